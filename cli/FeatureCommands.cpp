// `diskvigil-cli aam` and `apm`: the feature's state on drive POS, after an optional change.
#include <charconv>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "core/AamApm.h"

namespace dv::cli {
namespace {

// The main window's track bar runs from 0 to 254; 255 cannot be chosen there.
constexpr int kHighestLevel = 254;
constexpr std::string_view kAbortedReason = "the drive aborted SET FEATURES";

struct FeatureArguments {
  std::string position;
  std::optional<uint8_t> setLevel;
  bool disable = false;
};

std::optional<int> ParseLevel(const std::string& text) {
  int value = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text[0] == '+' || text[0] == '-' || error != std::errc() ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<FeatureArguments> ParseFeatureArguments(CliContext& ctx) {
  const auto words =
      ParseArguments(ctx, Position::Needed, {ValueOption("--set"), Flag("--disable")});
  if (!words) return std::nullopt;
  FeatureArguments parsed;
  parsed.position = words->position;
  parsed.disable = words->Has("--disable");
  if (const auto text = words->Value("--set")) {
    const std::optional<int> level = ParseLevel(*text);
    if (!level || *level < 0 || *level > kHighestLevel) {
      ctx.err << "--set needs a level from 0 to " << kHighestLevel << " (got "
              << PrintableText(*text) << ")\n";
      return std::nullopt;
    }
    parsed.setLevel = static_cast<uint8_t>(*level);
  }
  if (parsed.setLevel && parsed.disable) {
    ctx.err << "--set and --disable exclude each other\n";
    return std::nullopt;
  }
  return parsed;
}

std::string LevelText(DriveFeature feature, const FeatureState& state, uint8_t level) {
  if (!state.Supported || !FeatureLevelShown(feature, level)) return "...";
  return std::to_string(level);
}

int RunFeature(CliContext& ctx, DriveFeature feature) {
  const char* name = feature == DriveFeature::AAM ? "AAM" : "APM";
  const auto args = ParseFeatureArguments(ctx);
  if (!args) return kExitUsage;
  DriveTable table;
  const auto position = ProbeListedPosition(ctx, table, args->position);
  if (!position) return kExitFailure;
  const int driveNumber = table.At(*position).DriveNumber;
  if (table.At(*position).IsNvme()) {
    // SET FEATURES would go down the ATA path, where this number names another drive.
    ctx.err << name << " does not apply to NVMe drive " << *position << "\n";
    return kExitFailure;
  }

  // Whether a change asked for was applied; nothing when none was asked for.
  std::optional<bool> applied;
  if (args->setLevel || args->disable) {
    const bool enable = args->setLevel.has_value();
    const uint8_t level = args->setLevel.value_or(0);
    const ATACommandResult result =
        SetFeatureExchange(ctx.system, driveNumber, feature, level, enable);
    if (!result.callSucceeded) {
      ctx.err << "SET FEATURES (" << name
              << ") was refused: " << ctx.system.DescribeDrive(driveNumber)
              << " could not be opened or did not accept the request\n";
      return kExitFailure;
    }
    applied = (result.current.Status() & kStatusErr) == 0;
    if (!*applied) {
      ctx.err << "The drive aborted SET FEATURES (" << name
              << "); the state below is what it reports now\n";
    }
  }

  const FeatureState state = ReadFeature(ctx.system, driveNumber, feature);
  if (ctx.json) {
    nlohmann::ordered_json json{{"supported", state.Supported},
                                {"enabled", state.Enabled},
                                {"current", state.CurrentLevel},
                                {"recommended", state.RecommendedLevel}};
    if (applied) json["applied"] = *applied;
    if (applied == false) json["reason"] = kAbortedReason;
    ctx.out << json.dump(2) << "\n";
  } else {
    ctx.out << name << " of drive " << *position << ": "
            << PrintableText(table.At(*position).ModelNumber) << "\n"
            << "  Supported:          " << YesNo(state.Supported) << "\n"
            << "  Enabled:            " << YesNo(state.Enabled) << "\n"
            << "  Current level:      " << LevelText(feature, state, state.CurrentLevel) << "\n"
            << "  Recommended level:  " << LevelText(feature, state, state.RecommendedLevel)
            << "\n";
  }
  return applied == false ? kExitFailure : kExitOk;
}

}  // namespace

int RunAam(CliContext& ctx) { return RunFeature(ctx, DriveFeature::AAM); }
int RunApm(CliContext& ctx) { return RunFeature(ctx, DriveFeature::APM); }

}  // namespace dv::cli
