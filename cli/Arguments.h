// The words after a verb: an optional drive position and named options, read by one set of rules
// for every verb, so each refuses a stray word, a missing value or a doubled option alike.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Cli.h"

namespace dv::cli {

struct OptionRule {
  std::string_view name;  // "--dec", "-o", ...
  bool takesValue;        // the next word is its value, whatever it looks like
  bool repeatable;        // may be given again; the last value counts
};
inline OptionRule Flag(std::string_view name, bool repeatable = false) {
  return {name, false, repeatable};
}
inline OptionRule ValueOption(std::string_view name, bool repeatable = false) {
  return {name, true, repeatable};
}

// Whether the verb takes a drive position: one word not starting with "-", numeric.
enum class Position { None, Needed };

struct ParsedArguments {
  std::string position;
  std::set<std::string, std::less<>> flags;
  std::map<std::string, std::string, std::less<>> values;

  bool Has(std::string_view option) const { return flags.count(option) != 0; }
  std::optional<std::string> Value(std::string_view option) const {
    const auto found = values.find(option);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
  }
};

// "--settings PATH" of mail-report and monitor: the settings file instead of the usual one.
inline constexpr std::string_view kSettingsOption = "--settings";

// The settings file "--settings" names, else the usual one.
std::filesystem::path SettingsPathOf(const ParsedArguments& words);

// The arguments of ctx.args by these rules; nothing after the usage complaint on ctx.err: an
// unknown or doubled word, an option without its value, a missing or non-numeric position.
std::optional<ParsedArguments> ParseArguments(CliContext& ctx, Position position,
                                              const std::vector<OptionRule>& options = {});

// The word right after the position ("selftest 1 short", "log 1 error"), taken out of ctx.args;
// nothing after the usage complaint when it is missing or not one of `choices`.
std::optional<std::string> TakeChoiceAfterPosition(CliContext& ctx,
                                                   const std::vector<std::string_view>& choices);

}  // namespace dv::cli
