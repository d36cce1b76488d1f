#include <gtest/gtest.h>

#include "core/Temperatures.h"
#include "kit/SmartSectorBuilder.h"

namespace dv {
namespace {

using test::MakeSectors;

TEST(Temperatures, AirflowValuesComeFromAttribute190) {
  const auto withoutByte4 =
      MakeSectors({{190, 0x0022, 63, 55, {0x25, 0x00, 0x14, 0x2D, 0x00, 0x00}}});
  const Temperatures t = GetTemperatures(withoutByte4.SMARTData);
  EXPECT_EQ(t.Airflow, 37);
  EXPECT_EQ(t.Low, 20);
  EXPECT_EQ(t.High, 45) << "byte 4 is 0, so byte 3 holds the highest";

  const auto withByte4 = MakeSectors({{190, 0x0022, 63, 55, {0x25, 0x00, 0x14, 0x2D, 0x2F, 0x00}}});
  EXPECT_EQ(GetTemperatures(withByte4.SMARTData).High, 47);
}

TEST(Temperatures, CurrentPrefers194) {
  const auto sectors = MakeSectors({
      {190, 0x0022, 63, 55, {0x25, 0x00, 0x14, 0x2D, 0x00, 0x00}},
      {194, 0x0022, 100, 100, {0x24, 0x00, 0x11, 0x00, 0x3A, 0x00}},
  });
  const Temperatures t = GetTemperatures(sectors.SMARTData);
  EXPECT_EQ(t, (Temperatures{36, 20, 45, 37}));
}

TEST(Temperatures, CurrentFallsBackTo190WhenThereIsNo194) {
  // Many SSDs report their temperature in 190 only; taking 194 alone would show 0.
  const auto ssd = MakeSectors({{190, 0x0032, 70, 60, {0x1E, 0x00, 0x12, 0x28, 0x00, 0x00}}});
  EXPECT_EQ(GetTemperatures(ssd.SMARTData).Current, 30);

  // A 194 entry that is all zeros counts as absent.
  const auto zero194 = MakeSectors(
      {{194, 0x0022, 0, 0, {}}, {190, 0x0032, 70, 60, {0x1E, 0x00, 0x12, 0x28, 0x00, 0x00}}});
  EXPECT_EQ(GetTemperatures(zero194.SMARTData).Current, 30);

  // A 194 that is present wins even when its byte 0 is 0.
  const auto cold194 =
      MakeSectors({{194, 0x0022, 100, 100, {0x00, 0x00, 0x05}}, {190, 0x0032, 70, 60, {0x1E}}});
  EXPECT_EQ(GetTemperatures(cold194.SMARTData).Current, 0);
}

TEST(Temperatures, NoTemperatureAttributesGiveZeros) {
  EXPECT_EQ(GetTemperatures(SmartSectors{}.SMARTData), Temperatures{});
  const auto other = MakeSectors({{231, 0x0022, 100, 100, {0x30}}, {9, 0x0032, 99, 99, {0x10}}});
  EXPECT_EQ(GetTemperatures(other.SMARTData), Temperatures{});
}

TEST(TemperaturesOnRealDrives, MatchWhatTheDrivesReport) {
  // 194 raw 26 00 00 00 11 00, 190 raw 26 00 25 26 28 4E.
  EXPECT_EQ(GetTemperatures(test::RealDriveSectors("ST9160821AS--3.CLH").SMARTData),
            (Temperatures{38, 37, 40, 38}));
  // 190 raw 22 00 22 22 00 00: byte 4 is 0, so High is byte 3.
  EXPECT_EQ(GetTemperatures(test::RealDriveSectors("ST9100821AS--3.CME").SMARTData),
            (Temperatures{34, 34, 34, 34}));
  EXPECT_EQ(GetTemperatures(test::RealDriveSectors("FUJITSU_MHY2120BH--0084000D").SMARTData),
            (Temperatures{28, 0, 0, 0}));
  // An SSD without any temperature attribute.
  EXPECT_EQ(GetTemperatures(test::RealDriveSectors("INTEL_SSDSA2CW120G3--4PC10302").SMARTData),
            Temperatures{});
}

}  // namespace
}  // namespace dv
