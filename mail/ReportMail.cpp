#include "mail/ReportMail.h"

#include <charconv>
#include <ctime>
#include <optional>

#include "mail/AddressList.h"
#include "mail/MailMessage.h"
#include "mail/MailPlatform.h"
#include "mail/SmtpClient.h"

namespace dv {
namespace {

constexpr const char* kReportTitle = "Diskvigil Report - ";
constexpr const char* kLineEnd = "\r\n";

// A TCP port as decimal digits, 1 to 65535.
std::optional<uint16_t> ParsePort(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 ||
      value > 65535) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

// Why one of the message's addresses cannot be sent, or empty: checked before connecting, so
// nothing of such an address ever reaches a server.
std::string AddressesFault(const MailMessage& message) {
  std::vector<const MailAddress*> addresses{&message.from};
  for (const MailAddress& address : message.to) addresses.push_back(&address);
  for (const MailAddress* address : addresses) {
    const std::string fault = AddressFault(address->address);
    if (!fault.empty()) return "the address \"" + address->address + "\" " + fault;
  }
  return "";
}

}  // namespace

ReportText ComposeReport(const std::vector<ReportDrive>& drives,
                         std::chrono::system_clock::time_point now) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  // The system's short date and long time formats are those of the user's LC_TIME locale.
  const std::tm local = ToLocalTime(seconds).fields;
  std::string stamp = FormatUserTime(local, "%x");
  if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
    stamp += " " + FormatUserTime(local, "%X");
  }

  ReportText report;
  report.subject = kReportTitle + stamp;
  report.body = report.subject + kLineEnd + kLineEnd;
  for (const ReportDrive& drive : drives) {
    report.body += drive.model + ":" + kLineEnd + kLineEnd;
    report.body += "S.M.A.R.T.: " + drive.smartStatus + kLineEnd;
    // The degree sign as the single byte of the 8-bit code page; "..." as the window shows a
    // temperature the drive did not give.
    report.body += "Temperature: " +
                   (drive.temperature ? std::to_string(*drive.temperature) +
                                            " \xB0"
                                            "C"
                                      : std::string("...")) +
                   kLineEnd;
    for (const std::string& note : drive.notes) report.body += note + kLineEnd;
    report.body += std::string(kLineEnd) + kLineEnd;
  }
  return report;
}

MailResult SendReportMail(const MailSettings& settings, const ReportText& report,
                          const SmtpLimits& limits) {
  try {
    if (settings.security < 0 || settings.security > 2) {
      return {255, "unknown SMTP security setting " + std::to_string(settings.security)};
    }
    const auto port = ParsePort(settings.port);
    if (!port) return {255, "the port \"" + settings.port + "\" is not a number from 1 to 65535"};
    if (settings.host.empty()) return {255, "no SMTP server is set"};

    MailMessage message;
    const auto senders = ParseAddressList(settings.from);
    if (!senders.empty()) message.from = senders.front();
    message.to = ParseAddressList(settings.mail);
    if (const std::string fault = AddressesFault(message); !fault.empty()) return {255, fault};
    message.subject = report.subject;
    message.body = report.body;
    message.mailer = kMailAgentName;

    SmtpClient client(limits);
    try {
      client.Connect(settings.host, *port, static_cast<SmtpSecurity>(settings.security));
    } catch (const std::exception& failure) {
      return {255, failure.what()};
    }
    MailResult result;
    try {
      // Without "LOGIN" on offer the mail goes unauthenticated; the server's replies decide.
      if (settings.authentication && client.Offers("LOGIN")) {
        client.Authenticate(settings.login, settings.password);
      }
      std::vector<std::string> recipients;
      for (const MailAddress& address : message.to) recipients.push_back(address.address);
      client.SendMail(message.from.address, recipients,
                      MessageData(message, std::time(nullptr), SystemMailCharset()));
      result = {0, ""};
    } catch (const std::exception& failure) {
      result = {1, failure.what()};
    }
    client.Disconnect();
    return result;
  } catch (const std::exception& failure) {
    return {1, failure.what()};
  } catch (...) {
    return {1, "unexpected failure"};
  }
}

}  // namespace dv
