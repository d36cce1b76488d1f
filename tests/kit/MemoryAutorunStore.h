// An autorun entry in memory; `writable` false makes every change fail.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/Autorun.h"

namespace dv {

class MemoryAutorunStore : public AutorunStore {
 public:
  std::optional<std::string> ReadCommand() const override { return command; }
  bool WriteCommand(std::string_view newCommand) override {
    if (!writable) return false;
    command = std::string(newCommand);
    ++writes;
    return true;
  }
  bool Remove() override {
    if (!writable) return false;
    command.reset();
    return true;
  }

  std::optional<std::string> command;
  bool writable = true;
  int writes = 0;
};

}  // namespace dv
