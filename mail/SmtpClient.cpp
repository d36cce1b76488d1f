#include "mail/SmtpClient.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <climits>

#include "mail/MailPlatform.h"

namespace dv {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A reply may span many lines, but not without end.
constexpr std::size_t kMaxReplySize = 1 << 20;
// QUIT is sent without waiting for its answer; the write itself gets this long.
constexpr milliseconds kQuitWriteLimit{1000};

asio::ssl::context MakeTlsContext() {
  asio::ssl::context context(asio::ssl::context::tls_client);
  SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
  // The system's trust store; SSL_CERT_FILE and SSL_CERT_DIR point elsewhere as usual.
  context.set_default_verify_paths();
  context.set_verify_mode(asio::ssl::verify_peer);
  return context;
}

std::string Describe(const asio::error_code& error) {
  if (error == asio::error::eof || error == asio::error::connection_reset ||
      error == asio::ssl::error::stream_truncated) {
    return "the server closed the connection";
  }
  if (error == asio::error::connection_refused) return "connection refused";
  return error.message();
}

// A reply for a failure message: the code and the text lines joined by spaces.
std::string ReplySummary(const SmtpReply& reply) {
  std::string text;
  for (const std::string& line : reply.lines) {
    if (!text.empty()) text += ' ';
    text += line;
  }
  return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

struct SmtpClient::Connection {
  Connection() : tls(MakeTlsContext()), stream(io, tls) {}

  // Runs the started operation until `done` or until `limit`. On expiry the socket is closed, the
  // aborted handlers are run to their end, and `what` is thrown.
  void Await(const bool& done, milliseconds limit, const std::string& what) {
    if (limit > milliseconds::zero()) io.run_for(limit);
    if (done) return;
    Close();
    io.restart();
    io.run();
    throw SmtpFailure(what);
  }

  void Close() {
    asio::error_code ignored;
    stream.lowest_layer().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    stream.lowest_layer().close(ignored);
  }

  bool Open() const { return stream.lowest_layer().is_open(); }

  asio::io_context io;
  asio::ssl::context tls;
  asio::ssl::stream<asio::ip::tcp::socket> stream;
  bool secure = false;
  SmtpSecurity security = SmtpSecurity::None;
};

SmtpClient::SmtpClient(const SmtpLimits& limits) : limits_(limits) {}

SmtpClient::~SmtpClient() { Disconnect(); }

bool SmtpClient::Connected() const { return connection_ && connection_->Open(); }

bool SmtpClient::Offers(std::string_view mechanism) const {
  const std::string wanted = Upper(mechanism);
  for (const std::string& name : mechanisms_) {
    if (name == wanted) return true;
  }
  return false;
}

std::string SmtpClient::GreetingName() { return LocalHostName(); }

void SmtpClient::Connect(const std::string& host, uint16_t port, SmtpSecurity security) {
  Disconnect();
  inbox_.clear();
  lastReply_ = {};
  mechanisms_.clear();
  startTls_ = false;
  connection_ = std::make_unique<Connection>();
  connection_->security = security;
  Connection& c = *connection_;

  asio::error_code error;
  asio::ip::tcp::resolver::results_type endpoints;
  {
    asio::ip::tcp::resolver resolver(c.io);
    endpoints = resolver.resolve(host, std::to_string(port), error);
  }
  if (error) {
    connection_.reset();
    throw SmtpFailure("cannot find host \"" + host + "\": " + error.message());
  }

  bool done = false;
  c.io.restart();
  asio::async_connect(c.stream.lowest_layer(), endpoints,
                      [&](const asio::error_code& e, const asio::ip::tcp::endpoint&) {
                        error = e;
                        done = true;
                      });
  try {
    c.Await(done, limits_.connect,
            "connection timed out (" + host + ":" + std::to_string(port) + ")");
  } catch (...) {
    connection_.reset();
    throw;
  }
  if (error) {
    connection_.reset();
    throw SmtpFailure(Describe(error) + " (" + host + ":" + std::to_string(port) + ")");
  }

  try {
    Greet(host, security);
  } catch (...) {
    Disconnect();
    throw;
  }
}

void SmtpClient::Greet(const std::string& host, SmtpSecurity security) {
  Connection& c = *connection_;
  const auto handshake = [&] {
    SSL* ssl = c.stream.native_handle();
    asio::error_code notAddress;
    asio::ip::make_address(host, notAddress);
    if (notAddress) {
      SSL_set_tlsext_host_name(ssl, host.c_str());
      SSL_set1_host(ssl, host.c_str());
    } else {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    }
    asio::error_code error;
    bool done = false;
    c.io.restart();
    c.stream.async_handshake(asio::ssl::stream_base::client, [&](const asio::error_code& e) {
      error = e;
      done = true;
    });
    c.Await(done, limits_.command, "TLS handshake timed out");
    if (error) {
      const long verify = SSL_get_verify_result(ssl);
      if (verify != X509_V_OK) {
        throw SmtpFailure(std::string("certificate verify failed: ") +
                          X509_verify_cert_error_string(verify));
      }
      throw SmtpFailure("TLS handshake failed: " + error.message());
    }
    c.secure = true;
    // Nothing read before the handshake may pass for a reply inside it.
    inbox_.clear();
  };

  if (security == SmtpSecurity::Tls) handshake();
  ReadReply(limits_.command, "greeting");
  if (lastReply_.code != 220) {
    throw SmtpFailure("greeting: " + ReplySummary(lastReply_), lastReply_.code);
  }
  Hello();
  if (security == SmtpSecurity::StartTls) {
    if (!startTls_) throw SmtpFailure("the server does not offer STARTTLS");
    Command("STARTTLS", {220}, limits_.command);
    handshake();
    Hello();
  }
}

void SmtpClient::Hello() {
  mechanisms_.clear();
  startTls_ = false;
  const std::string name = GreetingName();
  const SmtpReply& reply = Command("EHLO " + name, {}, limits_.command);
  if (reply.code == 250) {
    ScanCapabilities(reply);
  } else {
    Command("HELO " + name, {250}, limits_.command);
  }
}

void SmtpClient::ScanCapabilities(const SmtpReply& reply) {
  for (std::size_t i = 0; i < reply.lines.size(); ++i) {
    const std::string line = Upper(reply.LineText(i));
    if (line == "STARTTLS") startTls_ = true;
    if (!StartsWith(line, "AUTH ") && !StartsWith(line, "AUTH=")) continue;
    std::string names = line.substr(4);
    for (char& c : names) {
      if (c == '=') c = ' ';
    }
    std::size_t start = 0;
    while (start < names.size()) {
      const std::size_t end = std::min(names.find(' ', start), names.size());
      const std::string name = names.substr(start, end - start);
      if (!name.empty() && !Offers(name)) mechanisms_.push_back(name);
      start = end + 1;
    }
  }
}

void SmtpClient::Authenticate(const std::string& user, const std::string& password) {
  Command("AUTH LOGIN", {334}, limits_.command);
  Command(EncodeBase64(user), {334}, limits_.command, "AUTH LOGIN user name");
  Command(EncodeBase64(password), {235}, limits_.command, "AUTH LOGIN password");
  authenticated_ = true;
}

void SmtpClient::SendMail(const std::string& from, const std::vector<std::string>& recipients,
                          std::string_view data) {
  Command("RSET", {}, limits_.command);
  Command("MAIL FROM:<" + from + ">", {250}, limits_.command);
  for (const std::string& recipient : recipients) {
    Command("RCPT TO:<" + recipient + ">", {250, 251}, limits_.command);
  }
  Command("DATA", {354}, limits_.dataStart);
  Write(data, limits_.dataEnd);
  Command(".", {250}, limits_.dataEnd, "end of message");
}

void SmtpClient::Disconnect() noexcept {
  if (!connection_) return;
  try {
    Connection& c = *connection_;
    // With TLS asked for, nothing goes out in plain text, not even QUIT.
    if (c.Open() && (c.security == SmtpSecurity::None || c.secure)) {
      Write("QUIT\r\n", kQuitWriteLimit);
    }
    c.Close();
  } catch (...) {
    // The connection is going anyway.
  }
  connection_.reset();
  authenticated_ = false;
}

const SmtpReply& SmtpClient::Command(std::string_view line, std::vector<int> accepted,
                                     milliseconds limit, std::string_view shown) {
  const std::string name(shown.empty() ? line : shown);
  if (line.find_first_of("\r\n") != std::string_view::npos) {
    throw SmtpFailure(name + ": contains a line break");
  }
  if (!Connected()) throw SmtpFailure(name + ": not connected");
  const auto deadline = Clock::now() + limit;
  Write(std::string(line) + "\r\n", limit);
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  const SmtpReply& reply = ReadReply(std::max(left, milliseconds(1)), name);
  if (!accepted.empty() &&
      std::find(accepted.begin(), accepted.end(), reply.code) == accepted.end()) {
    throw SmtpFailure(name + ": " + ReplySummary(reply), reply.code);
  }
  return reply;
}

void SmtpClient::Write(std::string_view bytes, milliseconds limit) {
  if (!Connected()) throw SmtpFailure("not connected");
  Connection& c = *connection_;
  asio::error_code error;
  bool done = false;
  const auto handler = [&](const asio::error_code& e, std::size_t) {
    error = e;
    done = true;
  };
  c.io.restart();
  if (c.secure) {
    asio::async_write(c.stream, asio::buffer(bytes), handler);
  } else {
    asio::async_write(c.stream.next_layer(), asio::buffer(bytes), handler);
  }
  c.Await(done, limit, "sending timed out");
  if (error) {
    c.Close();
    throw SmtpFailure(Describe(error));
  }
}

const SmtpReply& SmtpClient::ReadReply(milliseconds limit, std::string_view command) {
  const std::string name(command);
  const auto deadline = Clock::now() + limit;
  std::array<char, 16384> buffer;
  while (true) {
    ReplyParse parse = ParseReply(inbox_);
    if (parse.state == ReplyState::Complete) {
      inbox_.erase(0, parse.consumed);
      lastReply_ = std::move(parse.reply);
      return lastReply_;
    }
    if (parse.state == ReplyState::LineTooLong || inbox_.size() > kMaxReplySize) {
      Disconnect();
      throw SmtpFailure(name + ": the reply is too long");
    }
    if (!Connected()) throw SmtpFailure(name + ": not connected");
    Connection& c = *connection_;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    asio::error_code error;
    std::size_t received = 0;
    bool done = false;
    const auto handler = [&](const asio::error_code& e, std::size_t n) {
      error = e;
      received = n;
      done = true;
    };
    c.io.restart();
    if (c.secure) {
      c.stream.async_read_some(asio::buffer(buffer), handler);
    } else {
      c.stream.next_layer().async_read_some(asio::buffer(buffer), handler);
    }
    c.Await(done, std::max(left, milliseconds(1)), name + ": no reply in time");
    inbox_.append(buffer.data(), received);
    if (error && received == 0) {
      c.Close();
      throw SmtpFailure(name + ": " + Describe(error));
    }
  }
}

}  // namespace dv
