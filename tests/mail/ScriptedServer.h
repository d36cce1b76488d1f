// A one-connection SMTP server on 127.0.0.1 whose every answer the test decides. It records what
// the client sent and never outlives the test that made it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dv::test {

inline const std::string kHangUp = "<hang up>";

class ScriptedServer {
 public:
  // The answer to one line: bytes to send (may be empty: stay silent), or nullopt to hang up. An
  // answer that ends in kHangUp is sent without it, and then the server hangs up.
  using Responder = std::function<std::optional<std::string>(const std::string& line)>;

  ScriptedServer(std::optional<std::string> greeting, Responder responder)
      : greeting_(std::move(greeting)), responder_(std::move(responder)) {
    Start();
  }

  // A greeting that never ends: `line` again and again, one every `every`, until the client leaves,
  // the test ends or 10 s have passed.
  struct Trickle {
    std::string line;
    std::chrono::microseconds every;
  };
  explicit ScriptedServer(Trickle trickle) : trickle_(std::move(trickle)) { Start(); }

  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }

  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  uint16_t Port() const { return port_; }

  // The command lines received, without CR LF; the message between DATA and "." is in Data().
  // Both wait (up to 5 s) for the client to have gone.
  std::vector<std::string> Commands() const {
    std::unique_lock lock(mutex_);
    doneChanged_.wait_for(lock, std::chrono::seconds(5), [this] { return done_; });
    return commands_;
  }
  std::string Data() const {
    std::unique_lock lock(mutex_);
    doneChanged_.wait_for(lock, std::chrono::seconds(5), [this] { return done_; });
    return data_;
  }
  bool Received(const std::string& prefix) const {
    for (const std::string& line : Commands()) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }

  // A well-behaved server; `answers` overrides the reply to commands that begin with a key.
  static Responder Standard(std::map<std::string, std::optional<std::string>> answers = {}) {
    return [answers](const std::string& line) -> std::optional<std::string> {
      for (const auto& [prefix, answer] : answers) {
        if (line.rfind(prefix, 0) == 0) return answer;
      }
      if (line.rfind("EHLO", 0) == 0) return "250-test.local\r\n250 AUTH LOGIN PLAIN\r\n";
      if (line.rfind("HELO", 0) == 0) return "250 test.local\r\n";
      if (line == "DATA") return "354 go ahead\r\n";
      if (line == "AUTH LOGIN") return "334 VXNlcm5hbWU6\r\n";
      if (line == "QUIT") return "221 bye\r\n";
      return "250 OK\r\n";
    };
  }

 private:
  void Start() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  void SendTrickle(int fd) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      if (send(fd, trickle_->line.data(), trickle_->line.size(), MSG_NOSIGNAL) <= 0) return;
      std::this_thread::sleep_for(trickle_->every);
    }
  }

  // Waits up to `ms` for `fd` to be readable; false when stopping or nothing came.
  bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    const int slice = 20;
    for (int waited = 0; !stop_ && waited < ms; waited += slice) {
      if (poll(&p, 1, slice) > 0) return true;
    }
    return false;
  }

  void Send(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }

  void Serve() {
    ServeOne();
    std::lock_guard lock(mutex_);
    done_ = true;
    doneChanged_.notify_all();
  }

  void ServeOne() {
    if (!Readable(listener_, 60000)) return;
    const int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    if (trickle_) {
      SendTrickle(fd);
      close(fd);
      return;
    }
    if (greeting_) Send(fd, *greeting_);
    std::string pending;
    bool inData = false;
    char buffer[4096];
    while (greeting_ && Readable(fd, 60000)) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(n));
      std::size_t end;
      bool hangUp = false;
      while ((end = pending.find("\r\n")) != std::string::npos) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 2);
        if (inData && line != ".") {
          std::lock_guard lock(mutex_);
          data_ += line + "\r\n";
          continue;
        }
        inData = false;
        {
          std::lock_guard lock(mutex_);
          commands_.push_back(line);
        }
        auto answer = responder_(line);
        if (answer && answer->ends_with(kHangUp)) {
          Send(fd, answer->substr(0, answer->size() - kHangUp.size()));
          answer.reset();
        }
        if (!answer) {
          hangUp = true;
          break;
        }
        if (line == "DATA" && answer->rfind("354", 0) == 0) inData = true;
        Send(fd, *answer);
      }
      if (hangUp) break;
    }
    // Without a greeting the server stays silent until the test ends or the client leaves.
    while (!greeting_ && Readable(fd, 60000)) {
      if (recv(fd, buffer, sizeof buffer, 0) <= 0) break;
    }
    close(fd);
  }

  std::optional<std::string> greeting_;
  Responder responder_;
  std::optional<Trickle> trickle_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable doneChanged_;
  bool done_ = false;
  std::vector<std::string> commands_;
  std::string data_;
};

}  // namespace dv::test
