// What smart and monitor both print of a reading: the verdict and temperature texts, the counter
// cautions, and the JSON helpers behind them.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "core/Counters.h"
#include "core/Drive.h"
#include "core/SmartData.h"

namespace dv::cli {

// Keys in the order the documentation lists them.
using OrderedJson = nlohmann::ordered_json;

OrderedJson OptionalJson(std::optional<int> value);
// Pretty-printed with `indent` (-1: one line), a final newline, invalid UTF-8 replaced.
std::string DumpOrdered(const OrderedJson& value, int indent);

// "41 C", or "..." for a temperature the drive did not give.
std::string CelsiusText(std::optional<int> celsius);
// "O.K.", "ERROR", "S.M.A.R.T. off", "no answer", with " (attributes not read)" when only the
// verdict came.
std::string VerdictText(const Drive& drive, const ReadSmartResult& result);

// The watch over the counters that predict failure, on the state file the desktop program keeps
// too. A file set aside is named on standard error.
CounterWatch OpenCounterWatch(CliContext& ctx);
OrderedJson CautionJson(const std::vector<CounterRise>& caution);
std::string CautionText(const std::vector<CounterRise>& caution);

}  // namespace dv::cli
