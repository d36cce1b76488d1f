#include "mail/SmtpClient.h"

#include <algorithm>
#include <array>
#include <climits>

#include "mail/AddressList.h"
#include "mail/MailPlatform.h"

namespace dv {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A reply may span many lines, but not without end.
constexpr std::size_t kMaxReplySize = 1 << 20;
// QUIT is sent without waiting for its answer; the write itself gets this long.
constexpr milliseconds kQuitWriteLimit{1000};

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

SmtpClient::SmtpClient(const SmtpLimits& limits) : SmtpClient(limits, MakeSmtpTransport) {}

SmtpClient::SmtpClient(const SmtpLimits& limits,
                       std::function<std::unique_ptr<SmtpTransport>()> makeTransport)
    : limits_(limits), makeTransport_(std::move(makeTransport)) {}

SmtpClient::~SmtpClient() { Disconnect(); }

bool SmtpClient::Connected() const { return transport_ && transport_->Open(); }

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
  inbox_.Clear();
  lastReply_ = {};
  mechanisms_.clear();
  startTls_ = false;
  security_ = security;
  transport_ = makeTransport_();
  if (!transport_) throw SmtpFailure("no connection could be set up");
  try {
    transport_->Connect(host, port, limits_.connect);
  } catch (...) {
    transport_.reset();
    throw;
  }
  try {
    Greet(host, security);
  } catch (...) {
    Disconnect();
    throw;
  }
}

void SmtpClient::Greet(const std::string& host, SmtpSecurity security) {
  const auto handshake = [&] {
    transport_->StartTls(host, limits_.command);
    // Nothing read before the handshake may pass for a reply inside it.
    inbox_.Clear();
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
  // An address that would break out of its angle brackets never starts a transaction.
  std::vector<std::string> addresses{from};
  addresses.insert(addresses.end(), recipients.begin(), recipients.end());
  for (const std::string& address : addresses) {
    const std::string fault = AddressFault(address);
    if (!fault.empty()) throw SmtpFailure("the address \"" + address + "\" " + fault);
  }
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
  if (!transport_) return;
  try {
    // With TLS asked for, nothing goes out in plain text, not even QUIT.
    if (transport_->Open() && (security_ == SmtpSecurity::None || transport_->Secure())) {
      Write("QUIT\r\n", kQuitWriteLimit);
    }
    transport_->Close();
  } catch (...) {
    // The connection is going anyway.
  }
  transport_.reset();
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
  transport_->Write(bytes, limit);
}

const SmtpReply& SmtpClient::ReadReply(milliseconds limit, std::string_view command) {
  const std::string name(command);
  const auto deadline = Clock::now() + limit;
  std::array<char, 16384> buffer;
  while (true) {
    ReplyParse parse = inbox_.Next();
    if (parse.state == ReplyState::Complete) {
      lastReply_ = std::move(parse.reply);
      return lastReply_;
    }
    if (parse.state == ReplyState::LineTooLong || inbox_.Size() > kMaxReplySize) {
      Disconnect();
      throw SmtpFailure(name + ": the reply is too long");
    }
    if (!Connected()) throw SmtpFailure(name + ": not connected");
    // The limit is for the whole reply: a server that keeps sending without ever ending it runs
    // out of time like a silent one.
    const auto now = Clock::now();
    if (now >= deadline) {
      transport_->Close();
      throw SmtpFailure(name + kNoReplyInTime);
    }
    const auto left = std::chrono::ceil<milliseconds>(deadline - now);
    const std::size_t received = transport_->ReadSome(buffer.data(), buffer.size(), left, name);
    inbox_.Append(std::string_view(buffer.data(), received));
  }
}

}  // namespace dv
