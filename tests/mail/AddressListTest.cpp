#include <gtest/gtest.h>

#include "mail/AddressList.h"

namespace dv {
namespace {

std::vector<std::pair<std::string, std::string>> Parsed(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const MailAddress& a : ParseAddressList(text)) out.emplace_back(a.name, a.address);
  return out;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(AddressList, CommasQuotesAndComments) {
  EXPECT_EQ(Parsed("a@x.org, b@y.org"), (Pairs{{"", "a@x.org"}, {"", "b@y.org"}}));
  EXPECT_EQ(Parsed("\"Smith, John\" <js@x.org>, Ann Lee <ann@y.org>"),
            (Pairs{{"Smith, John", "js@x.org"}, {"Ann Lee", "ann@y.org"}}));
  EXPECT_EQ(Parsed("ops@x.org (Ops, night (shift))"), (Pairs{{"Ops, night (shift)", "ops@x.org"}}));
  EXPECT_EQ(Parsed("\"say \\\"hi\\\"\" <q@x>"), (Pairs{{"say \"hi\"", "q@x"}}));
}

TEST(AddressList, EmptyEntriesAndNullAddressDropped) {
  EXPECT_EQ(Parsed(" , a@x,, <>, \"Nobody\" <>,"), (Pairs{{"", "a@x"}}));
  EXPECT_TRUE(Parsed("").empty());
  EXPECT_TRUE(Parsed("   ").empty());
}

TEST(AddressList, GroupsAndRoutes) {
  EXPECT_EQ(Parsed("Team: a@x, B <b@y>;, c@z"), (Pairs{{"", "a@x"}, {"B", "b@y"}, {"", "c@z"}}));
  EXPECT_EQ(Parsed("<@relay.org:user@host.org>"), (Pairs{{"", "user@host.org"}}));
}

TEST(AddressList, QuotedLocalPartsKeepTheirQuotes) {
  // The quotes are part of the mailbox: without them "john doe" is johndoe, another mailbox.
  const std::vector<std::pair<std::string, Pairs>> rows = {
      {"\"john doe\"@example.org", {{"", "\"john doe\"@example.org"}}},
      {"\"john doe\" @ example.org (John)", {{"John", "\"john doe\"@example.org"}}},
      {"John <\"john doe\"@example.org>", {{"John", "\"john doe\"@example.org"}}},
      {"\"a>b\"@example.org, c@x", {{"", "\"a>b\"@example.org"}, {"", "c@x"}}},
      {"<\"a\\\"b\"@x>", {{"", "\"a\\\"b\"@x"}}},
      {"<@relay.org:\"a:b\"@x>", {{"", "\"a:b\"@x"}}},
  };
  for (const auto& [text, expected] : rows) EXPECT_EQ(Parsed(text), expected) << text;
}

TEST(AddressList, BrokenTextEndsCleanly) {
  // The open quote swallows the rest: one entry, which the server will then judge.
  EXPECT_EQ(Parsed("\"open quote <a@x>, b@y").size(), 1u);
  EXPECT_EQ(Parsed("Name <a@x"), (Pairs{{"Name", "a@x"}}));
  EXPECT_EQ(Parsed("a@x (unclosed, b@y"), (Pairs{{"unclosed, b@y", "a@x"}}));
}

}  // namespace
}  // namespace dv
