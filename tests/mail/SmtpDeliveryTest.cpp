// Whole sends to a real SMTP server on loopback: what arrives, byte for byte, in plain text,
// after STARTTLS and over TLS from the first byte, and the sends a careful client must refuse.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "mail/MailSink.h"
#include "mail/ReportMail.h"

namespace dv {
namespace {

namespace fs = std::filesystem;
using test::MailSink;
using namespace std::chrono_literals;

SmtpLimits DeliveryLimits() {
  SmtpLimits limits;
  limits.command = 10s;
  limits.dataStart = 10s;
  limits.dataEnd = 10s;
  return limits;
}

MailSettings SettingsFor(const MailSink& sink) {
  MailSettings settings;
  settings.host = "127.0.0.1";
  settings.port = std::to_string(sink.Port());
  settings.from = "\"Disk Watch\" <dv@test.local>";
  settings.mail = "ops@test.local";
  settings.login = "user";
  settings.password = "secret";
  return settings;
}

// A CA, a certificate for "localhost" and one for another name, made with the openssl command.
class SmtpDelivery : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    available_ = test::MailSinkAvailable();
    if (!available_) return;
    certs_ = fs::temp_directory_path() / ("dv-certs-" + std::to_string(getpid()));
    fs::create_directories(certs_);
    const std::string dir = certs_.string();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const auto run = [](const std::string& command) {
      return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    };
    const auto serverCert = [&](const std::string& name, const std::string& stem) {
      std::ofstream(dir + "/" + stem + ".ext") << "subjectAltName=DNS:" << name << "\n";
      return run("openssl req" + ec + " -keyout " + dir + "/" + stem + ".key -out " + dir + "/" +
                 stem + ".csr -subj /CN=" + name) &&
             run("openssl x509 -req -days 2 -in " + dir + "/" + stem + ".csr -CA " + dir +
                 "/ca.pem -CAkey " + dir + "/ca.key -CAcreateserial -out " + dir + "/" + stem +
                 ".pem -extfile " + dir + "/" + stem + ".ext");
    };
    certsMade_ = run("openssl req -x509 -days 2" + ec + " -keyout " + dir + "/ca.key -out " + dir +
                     "/ca.pem -subj /CN=Diskvigil-Test-CA") &&
                 run("openssl req -x509 -days 2" + ec + " -keyout " + dir + "/other-ca.key -out " +
                     dir + "/other-ca.pem -subj /CN=Someone-Else") &&
                 serverCert("localhost", "server") &&
                 serverCert("mail.elsewhere.test", "elsewhere");
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    if (!certs_.empty()) fs::remove_all(certs_, ignored);
  }

  void SetUp() override {
    if (!available_) GTEST_SKIP() << "/usr/bin/python3 with aiosmtpd is not installed";
  }
  void TearDown() override { unsetenv("SSL_CERT_FILE"); }

  static std::vector<std::string> Tls(const std::string& mode, const std::string& stem = "server") {
    return {"--tls",  mode,
            "--cert", (certs_ / (stem + ".pem")).string(),
            "--key",  (certs_ / (stem + ".key")).string()};
  }
  static void Trust(const std::string& ca) { setenv("SSL_CERT_FILE", (certs_ / ca).c_str(), 1); }

  static inline bool available_ = false;
  static inline bool certsMade_ = false;
  static inline fs::path certs_;
};

TEST_F(SmtpDelivery, ReportArrivesAsComposed) {
  MailSink sink;
  ASSERT_TRUE(sink.Running());
  MailSettings settings = SettingsFor(sink);
  settings.mail = "ops@test.local, \"Night, Shift\" <night@test.local>";
  ReportText report = ComposeReport({{"DISK ONE", "O.K.", 31}, {"DISK TWO", "ERROR", 48}},
                                    std::chrono::system_clock::now());
  report.body += ".hidden\r\n.\r\nend\r\n";
  const MailResult result = SendReportMail(settings, report, DeliveryLimits());
  ASSERT_TRUE(result.Ok()) << result.reason;

  const auto mails = sink.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].envelope["mail_from"], "dv@test.local");
  EXPECT_EQ(mails[0].envelope["rcpt_tos"], (nlohmann::json{"ops@test.local", "night@test.local"}));
  EXPECT_EQ(mails[0].envelope["tls"], false);

  const std::string& raw = mails[0].raw;
  const std::regex expected(
      "From: \"Disk Watch\" <dv@test\\.local>\r\n"
      "Subject: Diskvigil Report - [^\r\n]+\r\n"
      "To: ops@test\\.local, \"Night, Shift\" <night@test\\.local>\r\n"
      "Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [1-9][0-9]? "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) 20[0-9]{2} "
      "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [+-][0-9]{4}\r\n"
      "X-Priority: 3\r\n"
      "X-Library: Diskvigil SMTP 1\\.0\r\n"
      "X-Mailer: Diskvigil\r\n"
      "\r\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(raw, match, expected, std::regex_constants::match_continuous))
      << raw;
  const std::string body = match.suffix();
  EXPECT_EQ(body, report.body);  // the server took the stuffed dots away again
  EXPECT_NE(body.find("DISK TWO:\r\n\r\nS.M.A.R.T.: ERROR\r\nTemperature: 48 \xB0"
                      "C\r\n"),
            std::string::npos);
}

TEST_F(SmtpDelivery, AuthenticatedPlainSend) {
  MailSink sink({"--auth", "user:secret"});
  ASSERT_TRUE(sink.Running());
  MailSettings settings = SettingsFor(sink);
  settings.authentication = true;
  const MailResult result = SendReportMail(settings, ComposeReport({}, {}), DeliveryLimits());
  ASSERT_TRUE(result.Ok()) << result.reason;
  ASSERT_EQ(sink.Mails().size(), 1u);
  EXPECT_EQ(sink.Mails()[0].envelope["login"], "user");

  settings.password = "wrong";
  EXPECT_EQ(SendReportMail(settings, ComposeReport({}, {}), DeliveryLimits()).outcome, 1);
  settings.authentication = false;
  const MailResult refused = SendReportMail(settings, ComposeReport({}, {}), DeliveryLimits());
  EXPECT_EQ(refused.outcome, 1);
  EXPECT_NE(refused.reason.find("MAIL FROM:<dv@test.local>: 530"), std::string::npos)
      << refused.reason;
  EXPECT_EQ(sink.Mails().size(), 1u);
}

TEST_F(SmtpDelivery, StartTlsAndImplicitTls) {
  ASSERT_TRUE(certsMade_);
  Trust("ca.pem");
  for (const auto& [mode, security] : {std::pair{"starttls", 1}, std::pair{"implicit", 2}}) {
    auto options = Tls(mode);
    options.insert(options.end(), {"--auth", "user:secret"});
    MailSink sink(options);
    ASSERT_TRUE(sink.Running());
    MailSettings settings = SettingsFor(sink);
    settings.host = "localhost";
    settings.security = security;
    settings.authentication = true;
    const MailResult result =
        SendReportMail(settings, ComposeReport({{"D", "O.K.", 30}}, {}), DeliveryLimits());
    ASSERT_TRUE(result.Ok()) << mode << ": " << result.reason;
    const auto mails = sink.Mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].envelope["tls"], true) << mode;
    EXPECT_EQ(mails[0].envelope["login"], "user") << mode;
  }
}

TEST_F(SmtpDelivery, UntrustedOrMisnamedCertificatesAreRefused) {
  ASSERT_TRUE(certsMade_);
  struct Case {
    const char* trust;
    const char* certificate;
    const char* host;
    const char* reason;
  };
  for (const Case& c : {Case{"other-ca.pem", "server", "localhost", "certificate verify failed"},
                        Case{"ca.pem", "elsewhere", "localhost", "hostname mismatch"},
                        Case{"ca.pem", "server", "127.0.0.1", "IP address mismatch"}}) {
    Trust(c.trust);
    for (const auto& [mode, security] : {std::pair{"starttls", 1}, std::pair{"implicit", 2}}) {
      MailSink sink(Tls(mode, c.certificate));
      ASSERT_TRUE(sink.Running());
      MailSettings settings = SettingsFor(sink);
      settings.host = c.host;
      settings.security = security;
      const MailResult result = SendReportMail(settings, ComposeReport({}, {}), DeliveryLimits());
      EXPECT_EQ(result.outcome, 255) << mode << " " << c.certificate << " " << c.host;
      EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
      EXPECT_TRUE(sink.Mails().empty());
    }
  }
}

}  // namespace
}  // namespace dv
