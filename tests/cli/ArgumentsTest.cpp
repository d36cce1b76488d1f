// The one reader of every verb's words: what it takes and what it refuses.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/Arguments.h"
#include "core/SimulatedDrives.h"

namespace dv::cli {
namespace {

TEST(ParseArguments, TakesOrRefusesEachWordByTheVerbsRules) {
  const std::vector<OptionRule> rules{Flag("--dec", true), Flag("--disable"), ValueOption("-o")};
  struct Case {
    std::vector<std::string> words;
    bool accepted;
    std::string position, output;
  };
  const std::vector<Case> cases{
      {{"2", "-o", "-x", "--dec", "--dec"}, true, "2", "-x"},  // a value may look like an option
      {{"--disable", "3", "--disable"}, false, "", ""},        // only repeatable ones come twice
      {{"1", "-o", "a", "-o", "b"}, false, "", ""},
      {{"1", "-o"}, false, "", ""},  // the value is missing
      {{"1", "2"}, false, "", ""},   // one position
      {{"--dec"}, false, "", ""},    // none
      {{"one"}, false, "", ""},      // not a number
      {{"1", "--hex"}, false, "", ""},
  };
  SimulatedDriveSystem system{std::vector<SimulatedDrive>{}};
  for (const Case& c : cases) {
    std::ostringstream out, err;
    CliContext ctx{system, false, c.words, out, err, {}, false};
    const auto parsed = ParseArguments(ctx, Position::Needed, rules);
    ASSERT_EQ(parsed.has_value(), c.accepted) << testing::PrintToString(c.words);
    EXPECT_EQ(err.str().empty(), c.accepted);
    if (!parsed) continue;
    EXPECT_EQ(parsed->position, c.position);
    EXPECT_EQ(parsed->Value("-o").value_or(""), c.output);
  }
}

}  // namespace
}  // namespace dv::cli
