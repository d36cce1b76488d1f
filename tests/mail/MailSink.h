// The loopback SMTP server of mail_sink.py (Debian's python3-aiosmtpd), started for one test and
// stopped with it. Messages land in a folder of their own.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace dv::test {

inline constexpr const char* kSystemPython = "/usr/bin/python3";

// Whether the server can run here at all: the system Python with aiosmtpd.
inline bool MailSinkAvailable() {
  if (access(kSystemPython, X_OK) != 0) return false;
  const std::string command =
      std::string(kSystemPython) + " -c 'import aiosmtpd.controller' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

struct ReceivedMail {
  nlohmann::json envelope;  // mail_from, rcpt_tos, login, tls
  std::string raw;          // the message bytes as received
};

class MailSink {
 public:
  // `options` are mail_sink.py's: "--auth", "user:secret", "--tls", "starttls", ...
  explicit MailSink(const std::vector<std::string>& options = {}) {
    folder_ = std::filesystem::temp_directory_path() /
              ("dv-mail-" + std::to_string(getpid()) + "-" + std::to_string(++Serial()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);

    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
    std::vector<std::string> words{kSystemPython,
                                   std::string(DISKVIGIL_SOURCE_DIR) + "/tests/mail/mail_sink.py",
                                   folder_.string()};
    words.insert(words.end(), options.begin(), options.end());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      close(toChild[1]);
      close(fromChild[0]);
      std::vector<char*> argv;
      for (std::string& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    stdin_ = toChild[1];
    // The first line the server prints is its port.
    std::string line;
    pollfd p{fromChild[0], POLLIN, 0};
    char c;
    while (line.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0 &&
           read(fromChild[0], &c, 1) == 1) {
      line += c;
    }
    close(fromChild[0]);
    port_ = std::atoi(line.c_str());
  }

  ~MailSink() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  MailSink(const MailSink&) = delete;
  MailSink& operator=(const MailSink&) = delete;

  bool Running() const { return port_ > 0; }
  int Port() const { return port_; }

  // The messages received so far, in order.
  std::vector<ReceivedMail> Mails() const {
    std::vector<ReceivedMail> mails;
    for (int n = 1;; ++n) {
      char stem[16];
      std::snprintf(stem, sizeof stem, "%03d", n);
      const auto json = folder_ / (std::string(stem) + ".json");
      if (!std::filesystem::exists(json)) break;
      ReceivedMail mail;
      mail.envelope = nlohmann::json::parse(ReadAll(json));
      mail.raw = ReadAll(folder_ / (std::string(stem) + ".eml"));
      mails.push_back(std::move(mail));
    }
    return mails;
  }

 private:
  static int& Serial() {
    static int serial = 0;
    return serial;
  }

  static std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path folder_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

}  // namespace dv::test
