// The history `monitor --history` keeps: each reading taken during the pass, all written in one go
// after it. A build without history support (Windows) says so and the monitor goes on without.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cli/Cli.h"
#include "core/Drive.h"
#include "core/Monitor.h"
#include "core/SmartData.h"

namespace dv::cli {

class MonitorHistory {
 public:
  virtual ~MonitorHistory() = default;
  // For the pass's observer. `caution`: whether a watched counter rose, when known.
  virtual void Take(const DriveTable& table, const PositionReading& reading,
                    const SmartSectors& sectors, std::optional<bool> caution) = 0;
  // The error text when the pass was not written.
  virtual std::optional<std::string> WritePass() = 0;
};

// The user's history file opened for writing; a note on ctx.err when it was set aside or cannot
// be used. Null when no history can be kept.
std::unique_ptr<MonitorHistory> OpenMonitorHistory(CliContext& ctx);

}  // namespace dv::cli
