// Test helper: simulated drives from JSON text given in the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/SimulatedDrives.h"

namespace dv::test {

// A test failure when the text does not load.
inline std::unique_ptr<SimulatedDriveSystem> Simulate(const std::string& json) {
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(json, "", "test.json", error);
  EXPECT_TRUE(system) << error;
  return system;
}

}  // namespace dv::test
