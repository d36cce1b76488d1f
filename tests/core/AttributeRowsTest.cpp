#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/AttributeNames.h"
#include "core/AttributeRows.h"
#include "kit/SmartSectorBuilder.h"

namespace dv {
namespace {

using test::AttributeEntry;
using test::MakeSectors;

const AttributeEntry kTemperature194{194, 0x0022, 100, 100, {0x24, 0x00, 0x11, 0x00, 0x3A, 0x00},
                                     0};

TEST(AttributeRows, TemperatureRowInBothPresentations) {
  const SmartSectors sectors = MakeSectors({kTemperature194});

  const auto hex = BuildAttributeRows(sectors, RawPresentation::Hex);
  ASSERT_EQ(hex.size(), 1u);
  EXPECT_EQ(hex[0], (AttributeRow{"(C2h) Temperature", "100", "100", "003A00110024h", "0", "S---O-",
                                  "O.K."}));

  const auto dec = BuildAttributeRows(sectors, RawPresentation::Dec);
  ASSERT_EQ(dec.size(), 1u);
  EXPECT_EQ(dec[0][kColumnRaw], "249109217316");
}

TEST(AttributeRows, RawIsFortyEightBitsLowByteFirstAndIgnoresByteEleven) {
  SmartSectors sectors = MakeSectors({{9, 0, 0, 0, {0, 0, 0, 0, 0x01, 0}, 0}});
  sectors.SMARTData[kSmartTableOffset + 11] = 0xAB;  // the entry's last byte is not part of Raw
  const SMARTAttribute attribute = sectors.FindSMARTAttribute(9);
  EXPECT_EQ(attribute.Raw, 4294967296u);
  EXPECT_EQ((attribute.RawBytes), (std::array<uint8_t, 6>{0, 0, 0, 0, 1, 0}));

  // Value and worst 0 with a raw value: the attribute is kept and shown.
  const auto rows = BuildAttributeRows(sectors, RawPresentation::Dec);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][kColumnRaw], "4294967296");
  EXPECT_EQ(rows[0][kColumnAttr], "0");

  const SmartSectors full = MakeSectors({{9, 0, 1, 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0}});
  EXPECT_EQ(full.FindSMARTAttribute(9).Raw, 0xFFFFFFFFFFFFu);
  EXPECT_EQ(RawValueText(0xFFFFFFFFFFFFu, RawPresentation::Hex), "FFFFFFFFFFFFh");
  EXPECT_EQ(RawValueText(0xFFFFFFFFFFFFu, RawPresentation::Dec), "281474976710655");
  EXPECT_EQ(RawValueText(0, RawPresentation::Hex), "000000000000h");
}

TEST(AttributeRows, FlagsTextShowsTheLowSixBitsOnly) {
  EXPECT_EQ(FlagsText(0x0033), "SC--OF");
  EXPECT_EQ(FlagsText(0x003F), "SCEPOF");
  EXPECT_EQ(FlagsText(0x0000), "------");
  EXPECT_EQ(FlagsText(0xFFC0), "------");
  EXPECT_EQ(FlagsText(0x0001), "-----F");
  EXPECT_EQ(FlagsText(0x0020), "S-----");
}

TEST(AttributeRows, StatusFailsOnlyBelowTheThreshold) {
  const SmartSectors sectors = MakeSectors({
      {1, 0x000B, 5, 5, {1}, 36},      // below: failed
      {3, 0x0003, 36, 36, {1}, 36},    // equal: in order
      {4, 0x0032, 0, 0, {7}, 0},       // threshold 0 never fails
      {5, 0x0033, 200, 200, {}, 250},  // compared as unsigned bytes
  });
  const auto rows = BuildAttributeRows(sectors, RawPresentation::Hex);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][kColumnStatus], "!!!");
  EXPECT_EQ(rows[1][kColumnStatus], "O.K.");
  EXPECT_EQ(rows[2][kColumnStatus], "O.K.");
  EXPECT_EQ(rows[3][kColumnStatus], "!!!");
  EXPECT_EQ(rows[3][kColumnThreshold], "250");
}

TEST(AttributeRows, RowsFollowTheNameTableNotTheDrive) {
  const SmartSectors sectors = MakeSectors({
      {231, 0x0022, 70, 60, {30}, 0},
      {254, 0x0001, 100, 100, {1}, 0},  // not in the name table: no row
      {5, 0x0033, 100, 100, {}, 36},
      {7, 0x000F, 0, 0, {}, 30},  // everything zero: counts as absent
      {1, 0x000B, 100, 100, {}, 50},
  });
  const auto rows = BuildAttributeRows(sectors, RawPresentation::Hex);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][kColumnName], "(01h) Raw Read Error Rate");
  EXPECT_EQ(rows[1][kColumnName], "(05h) Reallocated Sector Count");
  EXPECT_EQ(rows[2][kColumnName], "(E7h) Temperature");
}

TEST(AttributeRows, NothingKnownGivesNoRows) {
  EXPECT_TRUE(BuildAttributeRows(SmartSectors{}, RawPresentation::Hex).empty());
  EXPECT_TRUE(
      BuildAttributeRows(MakeSectors({{254, 1, 100, 100, {1}, 0}}), RawPresentation::Hex).empty());
}

TEST(AttributeLookup, StopsAtAZeroIdAndAfterTheThirtiethEntry) {
  SmartSectors sectors = MakeSectors({{1, 0, 100, 100, {}, 6}, {}, {5, 0, 90, 90, {}, 10}});
  EXPECT_EQ(sectors.FindSMARTAttribute(1).Value, 100);
  EXPECT_FALSE(sectors.FindSMARTAttribute(5).IsPresent()) << "entry after the end of the table";
  EXPECT_EQ(sectors.FindSMARTThreshold(5), 0);
  EXPECT_EQ(BuildAttributeRows(sectors, RawPresentation::Hex).size(), 1u);

  SmartSectors full;
  for (size_t slot = 0; slot < kSmartEntryCount; ++slot) {
    test::PutAttribute(full.SMARTData, slot, {static_cast<uint8_t>(slot + 1), 0, 100, 100, {}, 0});
    test::PutThreshold(full.SMARTThresholds, slot, static_cast<uint8_t>(slot + 1), 42);
  }
  // A 31st entry beyond the table, as a broken drive might leave it.
  test::PutAttribute(full.SMARTData, kSmartEntryCount, {200, 0, 100, 100, {1}, 0});
  test::PutThreshold(full.SMARTThresholds, kSmartEntryCount, 200, 42);
  EXPECT_EQ(full.FindSMARTAttribute(30).Value, 100);
  EXPECT_EQ(full.FindSMARTThreshold(30), 42);
  EXPECT_FALSE(full.FindSMARTAttribute(200).IsPresent());
  EXPECT_EQ(full.FindSMARTThreshold(200), 0);
  // The rows follow the same rules: 1..13 of the thirty are named, 200 beyond the end is not shown.
  const auto rows = BuildAttributeRows(full, RawPresentation::Hex);
  ASSERT_EQ(rows.size(), 13u);
  EXPECT_EQ(rows.back()[kColumnThreshold], "42");
}

TEST(AttributeLookup, FirstEntryWinsAndIdZeroIsNeverFound) {
  const SmartSectors sectors = MakeSectors({{9, 0, 10, 10, {}, 1}, {9, 0, 20, 20, {}, 2}});
  EXPECT_EQ(sectors.FindSMARTAttribute(9).Value, 10);
  EXPECT_EQ(sectors.FindSMARTThreshold(9), 1);
  const auto rows = BuildAttributeRows(sectors, RawPresentation::Hex);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][kColumnAttr], "10");
  EXPECT_EQ(rows[0][kColumnThreshold], "1");
  EXPECT_FALSE(sectors.FindSMARTAttribute(0).IsPresent());
}

TEST(AttributeLookup, ShortSectorsReadAsZeros) {
  const std::array<uint8_t, 8> truncated{0, 0, 9, 0x33, 0, 100, 99, 7};
  const SMARTAttribute attribute = FindSMARTAttribute(truncated, 9);
  EXPECT_EQ(attribute.Value, 100);
  EXPECT_EQ(attribute.Worst, 99);
  EXPECT_EQ(attribute.Raw, 7u);
}

TEST(AttributeNameTable, HoldsTheThirtySevenEntriesInOrder) {
  const std::vector<int> expected{1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,
                                  189, 190, 191, 192, 193, 194, 195, 196, 197, 198, 199, 200, 201,
                                  220, 221, 222, 223, 224, 225, 226, 228, 231, 240, 250};
  std::vector<int> ids;
  for (const auto& entry : AttributeNameTable) ids.push_back(entry.id);
  EXPECT_EQ(ids, expected);

  // Three names stand under two IDs each; everything else is unique.
  std::multiset<std::string_view> names;
  for (const auto& entry : AttributeNameTable) names.insert(entry.name);
  EXPECT_EQ(names.count("G-Sense Error Rate"), 2u);
  EXPECT_EQ(names.count("Load Cycle Count"), 2u);
  EXPECT_EQ(names.count("Temperature"), 2u);
  EXPECT_EQ(std::set<std::string_view>(names.begin(), names.end()).size(), 34u);
  EXPECT_EQ(AttributeNameTable[33].name, "Power-off Retract Count");
  EXPECT_EQ(AttributeNameTable[16].name, "Power-Off Retract Count");
}

TEST(RowPreFailureState, ReadsTheCellsAsTheGridShowsThem) {
  AttributeRow row{"(01h) Raw Read Error Rate", "90", "90", "0h", "97", "-C--OF", "!!!"};
  EXPECT_EQ(RowPreFailureState(row), PreFailureState::BelowThreshold);
  row[kColumnAttr] = "100";
  EXPECT_EQ(RowPreFailureState(row), PreFailureState::AtOrAboveThreshold);
  row[kColumnAttr] = "97";
  EXPECT_EQ(RowPreFailureState(row), PreFailureState::AtOrAboveThreshold);
  row[kColumnFlags] = "-C--O-";
  EXPECT_EQ(RowPreFailureState(row), PreFailureState::NotPreFailure);
  row[kColumnFlags] = "-----F";
  row[kColumnThreshold] = "";
  EXPECT_EQ(RowPreFailureState(row), PreFailureState::NotPreFailure);
}

TEST(AttributeRowsOnRealDrives, FailingMaxtorShowsItsSpinRetryCountBelowThreshold) {
  const auto rows = BuildAttributeRows(test::RealDriveSectors("Maxtor_96147H8--BAC51KJ0--2"),
                                       RawPresentation::Hex);
  EXPECT_EQ(rows.size(), 17u);
  const auto failed = std::find_if(rows.begin(), rows.end(),
                                   [](const AttributeRow& r) { return r[kColumnStatus] == "!!!"; });
  ASSERT_NE(failed, rows.end());
  EXPECT_EQ((*failed)[kColumnName], "(0Ah) Spin Retry Count");
  EXPECT_EQ((*failed)[kColumnAttr], "212");
  EXPECT_EQ((*failed)[kColumnThreshold], "223");
  EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                          [](const AttributeRow& r) { return r[kColumnStatus] == "!!!"; }),
            1);

  const auto earlier =
      BuildAttributeRows(test::RealDriveSectors("Maxtor_96147H8--BAC51KJ0"), RawPresentation::Hex);
  EXPECT_TRUE(std::none_of(earlier.begin(), earlier.end(),
                           [](const AttributeRow& r) { return r[kColumnStatus] == "!!!"; }));
}

TEST(AttributeRowsOnRealDrives, EveryFixtureGivesWellFormedRows) {
  for (const char* name :
       {"FUJITSU_MHY2120BH--0084000D", "INTEL_SSDSA2CW120G3--4PC10302", "SAMSUNG_HD501LJ--CR100-12",
        "ST9160821AS--3.CLH", "WDC_WD5000AAKS--00TMA0-12.01C01"}) {
    SCOPED_TRACE(name);
    const auto rows = BuildAttributeRows(test::RealDriveSectors(name), RawPresentation::Hex);
    ASSERT_FALSE(rows.empty());
    for (const AttributeRow& row : rows) {
      EXPECT_EQ(row[kColumnRaw].size(), 13u);
      EXPECT_EQ(row[kColumnFlags].size(), 6u);
      EXPECT_EQ(row[kColumnName].substr(0, 1), "(");
    }
  }
  // A drive of 20 known attributes, as the grid would show it.
  EXPECT_EQ(
      BuildAttributeRows(test::RealDriveSectors("SAMSUNG_HD501LJ--CR100-12"), RawPresentation::Dec)
          .size(),
      20u);
}

}  // namespace
}  // namespace dv
