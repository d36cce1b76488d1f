// One rule for every place that shows a verdict: the read, the drive's stored verdict and counter
// rises decide the health; the health decides the text.
#include <gtest/gtest.h>

#include "core/Drive.h"
#include "core/Health.h"
#include "core/SmartData.h"

namespace dv {
namespace {

struct ReadCase {
  bool smartOn;
  bool verdictReached;
  bool statusOK;
  Health health;
  std::string_view text;
};

TEST(Health, OneReadDecidesTheHealthAndItsText) {
  const ReadCase cases[] = {
      {true, true, true, Health::Passed, "O.K."},
      {true, true, false, Health::Failed, "ERROR"},
      // No verdict is no failure: nothing is claimed the drive did not say.
      {true, false, false, Health::Unknown, "..."},
      {false, false, false, Health::SmartOff, "..."},
      {false, true, true, Health::SmartOff, "..."},
  };
  for (const ReadCase& c : cases) {
    Drive drive;
    drive.SMARTEnabled = c.smartOn;
    const Health health = HealthOf(drive, ReadSmartResult{c.verdictReached, c.statusOK, true});
    EXPECT_EQ(health, c.health) << c.smartOn << c.verdictReached << c.statusOK;
    EXPECT_EQ(VerdictText(health), c.text) << c.smartOn << c.verdictReached << c.statusOK;
  }
}

TEST(Health, CautionOnlyLowersAGoodVerdict) {
  Drive drive;
  drive.SMARTEnabled = true;
  drive.SMARTStatusOK = true;
  EXPECT_EQ(WithCaution(StoredHealth(drive), true), Health::Caution);
  EXPECT_EQ(VerdictText(Health::Caution), "O.K.");  // the drive itself still says it is well
  EXPECT_EQ(WithCaution(StoredHealth(drive), false), Health::Passed);
  drive.SMARTStatusOK = false;
  EXPECT_EQ(WithCaution(StoredHealth(drive), true), Health::Failed);
  drive.SMARTEnabled = false;
  EXPECT_EQ(WithCaution(StoredHealth(drive), true), Health::SmartOff);
}

}  // namespace
}  // namespace dv
