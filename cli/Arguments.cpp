#include "cli/Arguments.h"

#include <algorithm>
#include <ostream>

#include "cli/CliSupport.h"

namespace dv::cli {

std::optional<ParsedArguments> ParseArguments(CliContext& ctx, Position position,
                                              const std::vector<OptionRule>& options) {
  const bool takesPosition = position == Position::Needed;
  ParsedArguments parsed;
  bool havePosition = false;
  std::set<std::string_view> seen;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& arg = ctx.args[i];
    const auto rule = std::find_if(options.begin(), options.end(),
                                   [&](const OptionRule& r) { return r.name == arg; });
    const bool known = rule != options.end();
    const bool valueMissing = known && rule->takesValue && i + 1 == ctx.args.size();
    if (known && !valueMissing && (rule->repeatable || seen.insert(rule->name).second)) {
      if (rule->takesValue) {
        parsed.values[arg] = ctx.args[++i];
      } else {
        parsed.flags.insert(arg);
      }
    } else if (!known && takesPosition && !havePosition && !arg.starts_with("-")) {
      parsed.position = arg;
      havePosition = true;
    } else {
      ctx.err << "Unexpected argument: " << PrintableText(arg) << "\n" << UsageText();
      return std::nullopt;
    }
  }
  if (takesPosition && !havePosition) {
    ctx.err << "A drive position is needed\n" << UsageText();
    return std::nullopt;
  }
  if (takesPosition && RefuseNonNumericPosition(ctx, parsed.position)) return std::nullopt;
  return parsed;
}

std::optional<std::string> TakeChoiceAfterPosition(CliContext& ctx,
                                                   const std::vector<std::string_view>& choices) {
  const bool present = ctx.args.size() >= 2;
  if (!present || std::find(choices.begin(), choices.end(), ctx.args[1]) == choices.end()) {
    std::string list;
    for (std::string_view c : choices) list += (list.empty() ? "" : ", ") + std::string(c);
    ctx.err << (present ? "Unexpected argument: " + PrintableText(ctx.args[1]) + " (one of " +
                              list + ")"
                        : "One of " + list + " is needed after the position")
            << "\n"
            << UsageText();
    return std::nullopt;
  }
  std::string word = ctx.args[1];
  ctx.args.erase(ctx.args.begin() + 1);
  return word;
}

}  // namespace dv::cli
