// The client against small scripted servers: every path of the exchange and every way it can fail.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>

#include "mail/ReportMail.h"
#include "mail/ScriptedServer.h"  // tests/mail
#include "mail/SmtpClient.h"

namespace dv {
namespace {

using test::ScriptedServer;
using namespace std::chrono_literals;

constexpr const char* kGreeting = "220 test.local ESMTP\r\n";

MailSettings SettingsFor(const ScriptedServer& server) {
  MailSettings settings;
  settings.host = "127.0.0.1";
  settings.port = std::to_string(server.Port());
  settings.from = "Disk Watch <dv@test.local>";
  settings.mail = "ops@test.local";
  settings.login = "user";
  settings.password = "secret";
  return settings;
}

const ReportText kReport{"Diskvigil Report - now", "Diskvigil Report - now\r\n\r\n"};

SmtpLimits Short() {
  SmtpLimits limits;
  limits.connect = 1000ms;
  limits.command = 300ms;
  limits.dataStart = 300ms;
  limits.dataEnd = 300ms;
  return limits;
}

int ThreadCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

TEST(SmtpExchange, PlainSendInTheProgramsOrder) {
  ScriptedServer server(kGreeting, ScriptedServer::Standard());
  MailSettings settings = SettingsFor(server);
  settings.mail = "a@test.local, \"B\" <b@test.local>";
  const MailResult result = SendReportMail(settings, kReport, Short());
  ASSERT_TRUE(result.Ok()) << result.reason;
  EXPECT_EQ(result.outcome, 0);
  const auto commands = server.Commands();
  ASSERT_EQ(commands.size(), 8u);
  EXPECT_EQ(commands[0], "EHLO " + SmtpClient::GreetingName());
  EXPECT_EQ(commands[1], "RSET");
  EXPECT_EQ(commands[2], "MAIL FROM:<dv@test.local>");
  EXPECT_EQ(commands[3], "RCPT TO:<a@test.local>");
  EXPECT_EQ(commands[4], "RCPT TO:<b@test.local>");
  EXPECT_EQ(commands[5], "DATA");
  EXPECT_EQ(commands[6], ".");
  EXPECT_EQ(commands[7], "QUIT");
  EXPECT_NE(server.Data().find("To: a@test.local, \"B\" <b@test.local>\r\n"), std::string::npos);
}

TEST(SmtpExchange, HeloAfterEhloIsRefused) {
  ScriptedServer server(kGreeting, ScriptedServer::Standard({{"EHLO", "502 not here\r\n"}}));
  MailSettings settings = SettingsFor(server);
  settings.authentication = true;
  const MailResult result = SendReportMail(settings, kReport, Short());
  EXPECT_TRUE(result.Ok()) << result.reason;
  EXPECT_TRUE(server.Received("HELO "));
  // No EHLO capabilities, so no mechanism: no AUTH even though it was asked for.
  EXPECT_FALSE(server.Received("AUTH"));
}

TEST(SmtpExchange, HeloRefusedToo) {
  ScriptedServer server(
      kGreeting, ScriptedServer::Standard({{"EHLO", "502 no\r\n"}, {"HELO", "501 nor that\r\n"}}));
  const MailResult result = SendReportMail(SettingsFor(server), kReport, Short());
  EXPECT_EQ(result.outcome, 255);
  EXPECT_NE(result.reason.find("501"), std::string::npos) << result.reason;
}

TEST(SmtpExchange, AuthLoginWhenOfferedInAnySpelling) {
  for (const std::string ehlo : {"250-test.local\r\n250-SIZE 1000\r\n250 AUTH=LOGIN PLAIN\r\n",
                                 "250-test.local\r\n250 auth plain login\r\n"}) {
    ScriptedServer server(kGreeting, ScriptedServer::Standard({{"EHLO", ehlo},
                                                               {"dXNlcg==", "334 UGFzc3dvcmQ6\r\n"},
                                                               {"c2VjcmV0", "235 welcome\r\n"}}));
    MailSettings settings = SettingsFor(server);
    settings.authentication = true;
    const MailResult result = SendReportMail(settings, kReport, Short());
    ASSERT_TRUE(result.Ok()) << result.reason;
    const auto commands = server.Commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[1], "AUTH LOGIN");
    EXPECT_EQ(commands[2], "dXNlcg==");
    EXPECT_EQ(commands[3], "c2VjcmV0");
    EXPECT_EQ(commands[4], "RSET");
  }
}

TEST(SmtpExchange, MechanismsAreUpperCasedOnceEach) {
  ScriptedServer server(
      kGreeting, ScriptedServer::Standard(
                     {{"EHLO", "250-x\r\n250-AUTH LOGIN login\r\n250 Auth=Plain LOGIN\r\n"}}));
  SmtpClient client(Short());
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(client.Mechanisms(), (std::vector<std::string>{"LOGIN", "PLAIN"}));
  EXPECT_TRUE(client.Offers("login"));
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
}

TEST(SmtpExchange, RefusedLoginAndNoAuthLine) {
  {
    ScriptedServer server(
        kGreeting, ScriptedServer::Standard(
                       {{"dXNlcg==", "334 x\r\n"}, {"c2VjcmV0", "535 bad credentials\r\n"}}));
    MailSettings settings = SettingsFor(server);
    settings.authentication = true;
    const MailResult result = SendReportMail(settings, kReport, Short());
    EXPECT_EQ(result.outcome, 1);
    // The failure names the step, never the credentials.
    EXPECT_EQ(result.reason, "AUTH LOGIN password: 535 bad credentials");
    EXPECT_FALSE(server.Received("MAIL"));
  }
  {
    ScriptedServer server(kGreeting,
                          ScriptedServer::Standard({{"EHLO", "250-x\r\n250 SIZE 10\r\n"}}));
    MailSettings settings = SettingsFor(server);
    settings.authentication = true;
    EXPECT_TRUE(SendReportMail(settings, kReport, Short()).Ok());
    EXPECT_FALSE(server.Received("AUTH"));
  }
}

TEST(SmtpExchange, RcptRefusedEndsBeforeData) {
  ScriptedServer server(kGreeting, ScriptedServer::Standard({{"RCPT", "550 No such user\r\n"}}));
  const MailResult result = SendReportMail(SettingsFor(server), kReport, Short());
  EXPECT_EQ(result.outcome, 1);
  EXPECT_EQ(result.reason, "RCPT TO:<ops@test.local>: 550 No such user");
  EXPECT_FALSE(server.Received("DATA"));
  // The caller still disconnects after a failure.
  EXPECT_EQ(server.Commands().back(), "QUIT");
}

TEST(SmtpExchange, MultiLineAnswersAndAcceptedCodes) {
  ScriptedServer server(kGreeting,
                        ScriptedServer::Standard({{"MAIL", "250-one\r\n250-two\r\n250 three\r\n"},
                                                  {"RCPT", "251 will forward\r\n"},
                                                  {"RSET", "502 whatever\r\n"}}));
  const MailResult result = SendReportMail(SettingsFor(server), kReport, Short());
  EXPECT_TRUE(result.Ok()) << result.reason;
}

TEST(SmtpExchange, OverlongLineFails) {
  const std::string longLine = "250 " + std::string(16381, 'x') + "\r\n";  // 16385 characters
  {
    ScriptedServer server("220 " + std::string(16381, 'x') + "\r\n", ScriptedServer::Standard());
    const MailResult result = SendReportMail(SettingsFor(server), kReport, Short());
    EXPECT_EQ(result.outcome, 255);
    EXPECT_NE(result.reason.find("too long"), std::string::npos) << result.reason;
  }
  {
    ScriptedServer server(kGreeting, ScriptedServer::Standard({{"MAIL", longLine}}));
    const MailResult result = SendReportMail(SettingsFor(server), kReport, Short());
    EXPECT_EQ(result.outcome, 1);
    EXPECT_FALSE(server.Received("RCPT"));
  }
}

TEST(SmtpExchange, ServerHangsUpMidReply) {
  ScriptedServer server(
      kGreeting, ScriptedServer::Standard({{"MAIL", "250-half a reply\r\n" + test::kHangUp}}));
  const MailResult result = SendReportMail(SettingsFor(server), kReport, Short());
  EXPECT_EQ(result.outcome, 1);
  EXPECT_NE(result.reason.find("closed the connection"), std::string::npos) << result.reason;
}

TEST(SmtpExchange, SilentServersEndWithinTheLimits) {
  const int threadsBefore = ThreadCount();
  const auto start = std::chrono::steady_clock::now();
  {
    ScriptedServer server(std::nullopt, ScriptedServer::Standard());
    const MailResult result = SendReportMail(SettingsFor(server), kReport, Short());
    EXPECT_EQ(result.outcome, 255);
    EXPECT_EQ(result.reason, "greeting: no reply in time");
  }
  {
    ScriptedServer server(kGreeting, ScriptedServer::Standard({{"DATA", ""}}));
    const MailResult result = SendReportMail(SettingsFor(server), kReport, Short());
    EXPECT_EQ(result.outcome, 1);
    EXPECT_EQ(result.reason, "DATA: no reply in time");
  }
  {
    ScriptedServer server(kGreeting, ScriptedServer::Standard({{".", ""}}));
    const MailResult result = SendReportMail(SettingsFor(server), kReport, Short());
    EXPECT_EQ(result.outcome, 1);
    EXPECT_EQ(result.reason, "end of message: no reply in time");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

// A server that never stops sending continuation lines, one every 0.1 ms, so every read gets a
// few bytes in far less than any time limit, while none of them ends the reply. Gives up after 5 s.
class TricklingTransport : public SmtpTransport {
 public:
  void Connect(const std::string&, uint16_t, std::chrono::milliseconds) override {
    start_ = std::chrono::steady_clock::now();
  }
  void StartTls(const std::string&, std::chrono::milliseconds) override {}
  bool Open() const override { return true; }
  bool Secure() const override { return false; }
  void Write(std::string_view, std::chrono::milliseconds) override {}
  std::size_t ReadSome(char* buffer, std::size_t size, std::chrono::milliseconds,
                       const std::string& what) override {
    if (std::chrono::steady_clock::now() - start_ > 5s) {
      throw SmtpFailure(what + ": the server closed the connection");
    }
    std::this_thread::sleep_for(100us);
    const std::string_view line = "220-still talking\r\n";
    return line.copy(buffer, std::min(size, line.size()));
  }
  void Close() noexcept override {}

 private:
  std::chrono::steady_clock::time_point start_;
};

TEST(SmtpExchange, TricklingReplyEndsAtTheTimeLimit) {
  SmtpLimits limits = Short();
  limits.command = 1s;
  // Over TCP, where the scheduler decides how the bytes bunch up, and through a transport that
  // hands out one line per read.
  ScriptedServer server(ScriptedServer::Trickle{"220-still talking\r\n", 100us});
  for (const bool overTcp : {true, false}) {
    SmtpClient client(limits, [overTcp]() -> std::unique_ptr<SmtpTransport> {
      return overTcp ? MakeSmtpTransport() : std::make_unique<TricklingTransport>();
    });
    const auto start = std::chrono::steady_clock::now();
    try {
      client.Connect("127.0.0.1", server.Port());
      ADD_FAILURE() << "a reply that never ends was taken";
    } catch (const SmtpFailure& failure) {
      EXPECT_STREQ(failure.what(), "greeting: no reply in time") << overTcp;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2 * limits.command) << overTcp;
  }
}

TEST(SmtpConnect, RefusedUnresolvableAndBadPort) {
  uint16_t closedPort = 0;
  {
    ScriptedServer server(kGreeting, ScriptedServer::Standard());
    closedPort = server.Port();
    // Make the server's one connection and end it, so the port is free again afterwards.
    SmtpClient client(Short());
    client.Connect("127.0.0.1", closedPort);
  }
  MailSettings settings;
  settings.host = "127.0.0.1";
  settings.port = std::to_string(closedPort);
  MailResult result = SendReportMail(settings, kReport, Short());
  EXPECT_EQ(result.outcome, 255);
  EXPECT_NE(result.reason.find("connection refused"), std::string::npos) << result.reason;

  const auto start = std::chrono::steady_clock::now();
  settings.host = "no-such-host.invalid";
  result = SendReportMail(settings, kReport, Short());
  EXPECT_EQ(result.outcome, 255);
  EXPECT_NE(result.reason.find("cannot find host"), std::string::npos) << result.reason;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);

  settings.host = "127.0.0.1";
  for (const std::string port : {"25a", "", " 25", "0", "65536", "-1", "2.5"}) {
    settings.port = port;
    result = SendReportMail(settings, kReport, Short());
    EXPECT_EQ(result.outcome, 255) << port;
    EXPECT_NE(result.reason.find("port"), std::string::npos) << result.reason;
  }
}

TEST(SmtpConnect, StartTlsMissingSendsNothingMore) {
  ScriptedServer server(kGreeting, ScriptedServer::Standard());
  MailSettings settings = SettingsFor(server);
  settings.security = 1;
  settings.authentication = true;
  const MailResult result = SendReportMail(settings, kReport, Short());
  EXPECT_EQ(result.outcome, 255);
  EXPECT_EQ(result.reason, "the server does not offer STARTTLS");
  const auto commands = server.Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].substr(0, 5), "EHLO ");
}

TEST(SmtpConnect, UnknownSecurityIsRefused) {
  MailSettings settings;
  settings.host = "127.0.0.1";
  settings.security = 3;
  EXPECT_EQ(SendReportMail(settings, kReport, Short()).outcome, 255);
}

TEST(SmtpExchange, QuotedLocalPartsGoOutWithTheirQuotes) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"\"john doe\"@test.local", "RCPT TO:<\"john doe\"@test.local>"},
      {"B <\"a>b\"@test.local>", "RCPT TO:<\"a>b\"@test.local>"},
  };
  for (const auto& [mail, rcpt] : rows) {
    ScriptedServer server(kGreeting, ScriptedServer::Standard());
    MailSettings settings = SettingsFor(server);
    settings.mail = mail;
    const MailResult result = SendReportMail(settings, kReport, Short());
    EXPECT_TRUE(result.Ok()) << result.reason;
    const auto commands = server.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), rcpt), 1) << mail;
  }
}

TEST(SmtpExchange, AddressesThatCannotBeSentAreRefusedBeforeConnecting) {
  using namespace std::string_literals;
  // {sender, recipients, what the failure says}
  const std::vector<std::tuple<std::string, std::string, std::string>> rows = {
      {"dv@test.local", "<\"a\r\nRCPT TO:<evil@x>\"@test.local>", "a control character"},
      {"dv@test.local", "ok@test.local, \"tab\there\"@test.local", "a control character"},
      {"dv@test.local", "a\x01b@test.local", "a control character"},
      {"dv@test.local", "<a\x7F@test.local>", "a control character"},
      {"dv@test.local", "nul\0@test.local"s, "a control character"},
      {"d\x1Bv@test.local", "ops@test.local", "a control character"},
      {"dv@test.local", "a>b@test.local", "'<' or '>'"},
      {"dv@test.local", "<a<b@test.local>", "'<' or '>'"},
      {"dv@test.local", "\"open@test.local", "unclosed quote"},
  };
  for (const auto& [from, mail, why] : rows) {
    ScriptedServer server(kGreeting, ScriptedServer::Standard());
    MailSettings settings = SettingsFor(server);
    settings.from = from;
    settings.mail = mail;
    const MailResult result = SendReportMail(settings, kReport, Short());
    // 255: no connection was made, so nothing of the address reached the server.
    EXPECT_EQ(result.outcome, 255) << mail;
    EXPECT_NE(result.reason.find(why), std::string::npos) << result.reason;
  }
}

}  // namespace
}  // namespace dv
