// The SMTP client: one connection, optional STARTTLS or TLS from the first byte, AUTH LOGIN, one
// mail transaction, QUIT. Every wait has a time limit; failures are thrown as SmtpFailure. The
// bytes go through an SmtpTransport (MakeSmtpTransport, or one given for tests).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/MailMessage.h"
#include "mail/ReportMail.h"
#include "mail/SmtpReply.h"
#include "mail/SmtpTransport.h"

namespace dv {

enum class SmtpSecurity { None = 0, StartTls = 1, Tls = 2 };

class SmtpClient {
 public:
  explicit SmtpClient(const SmtpLimits& limits = {});
  // Connects through transports made by `makeTransport` instead of MakeSmtpTransport.
  SmtpClient(const SmtpLimits& limits,
             std::function<std::unique_ptr<SmtpTransport>()> makeTransport);
  ~SmtpClient();
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  // The TCP connection (resolution, then connect within limits.connect), TLS when asked for, the
  // greeting, EHLO (or HELO), and with StartTls the upgrade and a second EHLO. On any failure the
  // connection is closed before the SmtpFailure leaves.
  void Connect(const std::string& host, uint16_t port, SmtpSecurity security = SmtpSecurity::None);
  bool Connected() const;
  bool Authenticated() const { return authenticated_; }

  // AUTH LOGIN, user name, password (Base64), expecting 334, 334, 235.
  void Authenticate(const std::string& user, const std::string& password);
  // The mechanisms the last EHLO offered, upper-cased, each once.
  const std::vector<std::string>& Mechanisms() const { return mechanisms_; }
  bool Offers(std::string_view mechanism) const;
  // Whether the last EHLO reply listed STARTTLS.
  bool OffersStartTls() const { return startTls_; }

  // RSET, MAIL FROM, RCPT TO per recipient, DATA, `data` (already dot-stuffed, CR LF), ".".
  void SendMail(const std::string& from, const std::vector<std::string>& recipients,
                std::string_view data);

  // QUIT without waiting for the reply, then the socket is closed. Never throws.
  void Disconnect() noexcept;

  const SmtpReply& LastReply() const { return lastReply_; }
  // The name sent with EHLO and HELO: this machine's host name.
  static std::string GreetingName();

 private:
  void Greet(const std::string& host, SmtpSecurity security);
  void Hello();
  // Writes `line` + CR LF and reads one reply within `limit`; the reply must have one of `accepted`
  // (an empty list accepts any code). `shown` is what a failure message calls the command.
  const SmtpReply& Command(std::string_view line, std::vector<int> accepted,
                           std::chrono::milliseconds limit, std::string_view shown = {});
  const SmtpReply& ReadReply(std::chrono::milliseconds limit, std::string_view command);
  void Write(std::string_view bytes, std::chrono::milliseconds limit);
  void ScanCapabilities(const SmtpReply& reply);

  SmtpLimits limits_;
  std::function<std::unique_ptr<SmtpTransport>()> makeTransport_;
  std::unique_ptr<SmtpTransport> transport_;
  SmtpSecurity security_ = SmtpSecurity::None;
  ReplyReader inbox_;
  SmtpReply lastReply_;
  std::vector<std::string> mechanisms_;
  bool startTls_ = false;
  bool authenticated_ = false;
};

}  // namespace dv
