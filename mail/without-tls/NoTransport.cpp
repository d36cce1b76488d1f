// The SMTP client where no TLS library is available to build against (the MinGW cross build): the
// mails are still composed as everywhere, but every attempt to connect ends in one clear failure,
// which the senders report like any other ("Report sending failed: ...").
#include "mail/MailPlatform.h"
#include "mail/SmtpClient.h"

namespace dv {

namespace {
constexpr const char* kUnavailable =
    "mail delivery is not built into this program (no TLS library)";
}  // namespace

struct SmtpClient::Connection {};

SmtpClient::SmtpClient(const SmtpLimits& limits) : limits_(limits) {}
SmtpClient::~SmtpClient() = default;

bool SmtpClient::Connected() const { return false; }

bool SmtpClient::Offers(std::string_view) const { return false; }

std::string SmtpClient::GreetingName() { return LocalHostName(); }

void SmtpClient::Connect(const std::string&, uint16_t, SmtpSecurity) {
  throw SmtpFailure(kUnavailable);
}

void SmtpClient::Authenticate(const std::string&, const std::string&) {
  throw SmtpFailure(kUnavailable);
}

void SmtpClient::SendMail(const std::string&, const std::vector<std::string>&, std::string_view) {
  throw SmtpFailure(kUnavailable);
}

void SmtpClient::Disconnect() noexcept {}

}  // namespace dv
