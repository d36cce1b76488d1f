#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "mail/MailMessage.h"

namespace dv {
namespace {

const MailCharset kLatin1{"ISO-8859-1", false};

TEST(HeaderList, NamesIgnoreCaseReplaceInPlaceEmptyRemoves) {
  HeaderList headers;
  headers.Set("From", "a@x");
  headers.Set("Subject", "one");
  headers.Set("To", "b@y");
  headers.Set("SUBJECT", "two");
  // The first spelling of the name stays; the value changes where it stood.
  EXPECT_EQ(headers.Text(), "From: a@x\r\nSubject: two\r\nTo: b@y\r\n");
  headers.Set("from", "");
  headers.Set("X-New", "");
  EXPECT_EQ(headers.Size(), 2u);
  EXPECT_EQ(headers.Get("subject"), "two");
  EXPECT_EQ(headers.Text(), "Subject: two\r\nTo: b@y\r\n");
}

TEST(HeaderList, FoldsLongLinesAtSpaces) {
  std::string value;
  for (int i = 0; i < 30; ++i) value += "word" + std::to_string(i) + " ";
  const std::string folded = FoldHeaderLine("Subject: " + value);
  std::string joined;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = folded.find("\r\n", start);
    const std::string line = folded.substr(start, end - start);
    EXPECT_LE(line.size(), kHeaderFoldWidth) << line;
    EXPECT_NE(line.back(), ' ') << "trailing blank in: " << line;
    if (start > 0) {
      EXPECT_EQ(line.front(), ' ');
    }
    joined += line;
    if (end == std::string::npos) break;
    start = end + 2;
  }
  // Unfolding gives the value back, minus the trailing blank.
  EXPECT_EQ(joined, "Subject: " + value.substr(0, value.size() - 1));
  // A word longer than the width stays whole; a short line is untouched.
  const std::string longWord(100, 'x');
  EXPECT_EQ(FoldHeaderLine("X: " + longWord + " y"), "X: " + longWord + "\r\n y");
  EXPECT_EQ(FoldHeaderLine("X-Priority: 3  "), "X-Priority: 3");
}

TEST(MailCharset, ChosenByLanguage) {
  EXPECT_EQ(CharsetForLanguage("zh_CN.UTF-8").name, "GB2312");
  EXPECT_EQ(CharsetForLanguage("zh_TW.UTF-8").name, "Big5");
  EXPECT_EQ(CharsetForLanguage("zh_HK").name, "Big5");
  EXPECT_EQ(CharsetForLanguage("ja_JP.eucJP").name, "ISO-2022-JP");
  EXPECT_TRUE(CharsetForLanguage("ko_KR.UTF-8").base64);
  EXPECT_EQ(CharsetForLanguage("de_DE.UTF-8").name, "ISO-8859-1");
  EXPECT_FALSE(CharsetForLanguage("C").base64);
  EXPECT_EQ(CharsetForLanguage("jam_JM").name, "ISO-8859-1");

  // LC_ALL wins over LC_MESSAGES over LANG; an empty one does not count.
  setenv("LANG", "ko_KR.UTF-8", 1);
  setenv("LC_MESSAGES", "ja_JP.UTF-8", 1);
  setenv("LC_ALL", "", 1);
  EXPECT_EQ(SystemMailCharset().name, "ISO-2022-JP");
  unsetenv("LC_MESSAGES");
  EXPECT_EQ(SystemMailCharset().name, "EUC-KR");
  setenv("LC_ALL", "zh_CN", 1);
  EXPECT_EQ(SystemMailCharset().name, "GB2312");
  unsetenv("LC_ALL");
  unsetenv("LANG");
}

TEST(EncodedWords, AsciiStaysAndOthersAreEncoded) {
  EXPECT_EQ(EncodeHeaderText("Diskvigil Report - 12/07/26", kLatin1),
            "Diskvigil Report - 12/07/26");
  EXPECT_EQ(EncodeHeaderText("J\xC3\xBCrgen M=?", kLatin1), "=?ISO-8859-1?Q?J=FCrgen_M=3D=3F?=");
  EXPECT_EQ(EncodeHeaderText("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", {"ISO-2022-JP", true}),
            "=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=");
  EXPECT_EQ(EncodeHeaderText("\xED\x95\x9C\xEA\xB5\xAD", {"EUC-KR", true}),
            "=?EUC-KR?B?x9GxuQ==?=");
  // Not in Latin-1: sent as UTF-8 rather than lost.
  EXPECT_EQ(EncodeHeaderText("\xE2\x82\xAC", kLatin1), "=?UTF-8?Q?=E2=82=AC?=");
  // A lone 8-bit byte is a Latin-1 character, not broken UTF-8.
  EXPECT_EQ(EncodeHeaderText("36 \xB0"
                             "C",
                             kLatin1),
            "=?ISO-8859-1?Q?36_=B0C?=");
  EXPECT_EQ(EncodeHeaderText("36 \xB0"
                             "C",
                             {"ISO-2022-JP", true}),
            "=?ISO-2022-JP?B?MzYgGyRCIWsbKEJD?=");
  // Control characters (a line break above all) never reach the header raw.
  EXPECT_EQ(EncodeHeaderText("a\r\nb", kLatin1), "=?ISO-8859-1?Q?a=0D=0Ab?=");
}

TEST(EncodedWords, AConversionStartsCleanAfterAFailureOrAnotherCharset) {
  const MailCharset jis{"ISO-2022-JP", true};
  const std::string nihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
  // The euro sign fails the conversion while in the two-byte shift: the text goes as UTF-8 ...
  EXPECT_EQ(EncodeHeaderText(nihongo + "\xE2\x82\xAC", jis).rfind("=?UTF-8?", 0), 0u);
  // ... and the next header, in either charset, starts from the initial shift state.
  EXPECT_EQ(EncodeHeaderText(nihongo, jis), "=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=");
  EXPECT_EQ(EncodeHeaderText("J\xC3\xBCrgen", kLatin1), "=?ISO-8859-1?Q?J=FCrgen?=");
  EXPECT_EQ(EncodeHeaderText(nihongo, jis), "=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=");
  EXPECT_EQ(EncodeHeaderText("\xC3\xA9", {"NO-SUCH-CHARSET", false}), "=?UTF-8?Q?=C3=A9?=");
  EXPECT_EQ(EncodeHeaderText("J\xC3\xBCrgen", kLatin1), "=?ISO-8859-1?Q?J=FCrgen?=");
}

TEST(EncodedWords, LongTextSplitsIntoShortWordsBetweenCharacters) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "\xC3\xA9";  // é
  const std::string encoded = EncodeHeaderText(text, kLatin1);
  std::size_t words = 0;
  std::size_t start = 0;
  while (start < encoded.size()) {
    std::size_t end = encoded.find(' ', start);
    if (end == std::string::npos) end = encoded.size();
    const std::string word = encoded.substr(start, end - start);
    EXPECT_LE(word.size(), 75u);
    EXPECT_EQ(word.substr(0, 15), "=?ISO-8859-1?Q?");
    ++words;
    start = end + 1;
  }
  EXPECT_GT(words, 1u);
}

TEST(FormatAddress, BareQuotedOrEncoded) {
  EXPECT_EQ(FormatAddress({"", "a@x"}, kLatin1), "a@x");
  EXPECT_EQ(FormatAddress({"Ann \"A\" Lee\\", "a@x"}, kLatin1), "\"Ann \\\"A\\\" Lee\\\\\" <a@x>");
  EXPECT_EQ(FormatAddress({"Ren\xC3\xA9", "r@x"}, kLatin1), "=?ISO-8859-1?Q?Ren=E9?= <r@x>");
}

class LocalZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    if (old != nullptr) saved_ = old;
    hadTz_ = old != nullptr;
  }
  void TearDown() override {
    if (hadTz_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void Use(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  std::string saved_;
  bool hadTz_ = false;
};

TEST_F(LocalZone, DateCarriesTheOffsetWithDaylightSaving) {
  Use("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(MailDate(1796633199), "Mon, 7 Dec 2026 09:46:39 +0100");
  EXPECT_EQ(MailDate(1783420000), "Tue, 7 Jul 2026 12:26:40 +0200");
  Use("NST+3:30NDT,M3.2.0,M11.1.0");
  EXPECT_EQ(MailDate(1796633199), "Mon, 7 Dec 2026 05:16:39 -0330");
  Use("UTC0");
  EXPECT_EQ(MailDate(0), "Thu, 1 Jan 1970 00:00:00 +0000");
}

TEST(MessageData, HeadersInOrderThenStuffedBody) {
  MailMessage message;
  message.from = {"Disk Watch", "dv@x.org"};
  message.to = {{"", "a@x.org"}, {"Bea", "b@y.org"}};
  message.subject = "Diskvigil Report - now";
  message.body =
      "line one\r\n.hidden\n.\r\n\r\nlast \xB0"
      "C\r\n";
  const std::string data = MessageData(message, 0, kLatin1);
  const std::string expectedStart =
      "From: \"Disk Watch\" <dv@x.org>\r\n"
      "Subject: Diskvigil Report - now\r\n"
      "To: a@x.org, \"Bea\" <b@y.org>\r\n"
      "Date: ";
  EXPECT_EQ(data.substr(0, expectedStart.size()), expectedStart);
  const std::string expectedEnd =
      "X-Priority: 3\r\n"
      "X-Library: Diskvigil SMTP 1.0\r\n"
      "X-Mailer: Diskvigil\r\n"
      "\r\n"
      "line one\r\n"
      "..hidden\r\n"
      "..\r\n"
      "\r\n"
      "last \xB0"
      "C\r\n";
  ASSERT_GE(data.size(), expectedEnd.size());
  EXPECT_EQ(data.substr(data.size() - expectedEnd.size()), expectedEnd);
  EXPECT_EQ(data.find("MIME-Version"), std::string::npos);
  EXPECT_EQ(data.find("Message-ID"), std::string::npos);
}

TEST(MessageData, JapaneseSystemsSendTheBodyInIso2022Jp) {
  MailMessage message;
  message.from = {"", "dv@x.org"};
  message.body =
      "Temperature: 36 \xB0"
      "C\r\n\xE6\x97\xA5\xE6\x9C\xAC\r\n";
  const std::string data = MessageData(message, 0, {"ISO-2022-JP", true});
  const std::string body = data.substr(data.find("\r\n\r\n") + 4);
  EXPECT_EQ(body, "Temperature: 36 \x1B$B!k\x1B(BC\r\n\x1B$BF|K\\\x1B(B\r\n");
  // Elsewhere the bytes are untouched.
  const std::string latin = MessageData(message, 0, kLatin1);
  EXPECT_EQ(latin.substr(latin.find("\r\n\r\n") + 4), message.body);
}

TEST(MessageData, BodySplitting) {
  EXPECT_EQ(SplitBodyLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitBodyLines("a\r\n\r\n"), (std::vector<std::string>{"a", ""}));
  EXPECT_TRUE(SplitBodyLines("").empty());
}

TEST(Base64, RfcVectors) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("f"), "Zg==");
  EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
  EXPECT_EQ(EncodeBase64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(EncodeBase64("\xFF\xFE"), "//4=");
}

}  // namespace
}  // namespace dv
