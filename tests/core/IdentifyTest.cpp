#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "core/HexText.h"
#include "core/Identify.h"

namespace dv {
namespace {

using Sector = std::array<uint8_t, 512>;

void SetWord(Sector& s, size_t word, uint16_t value) {
  s[2 * word] = static_cast<uint8_t>(value);
  s[2 * word + 1] = static_cast<uint8_t>(value >> 8);
}

// Writes text into words first.., first character in the high byte, blank padded.
void SetText(Sector& s, size_t firstWord, size_t lastWord, const std::string& text) {
  std::string padded = text;
  padded.resize(2 * (lastWord - firstWord + 1), ' ');
  for (size_t i = 0; i < padded.size(); i += 2) {
    SetWord(s, firstWord + i / 2,
            static_cast<uint16_t>((static_cast<uint8_t>(padded[i]) << 8) |
                                  static_cast<uint8_t>(padded[i + 1])));
  }
}

Sector SectorWithModel(const std::string& model) {
  Sector s{};
  SetText(s, kIdWordModelFirst, kIdWordModelLast, model);
  return s;
}

TEST(IdentifyText, HighByteComesFirstAndTrimRemovesOnlyTheEnds) {
  Sector s{};
  // The serial field's first two words hold the bytes 0x20 0x20 and 0x31 0x57, low byte first.
  s[20] = 0x20;
  s[21] = 0x20;
  s[22] = 0x31;
  s[23] = 0x57;
  const std::string raw = DecodeATAString(s, 10, 11);
  EXPECT_EQ(raw, std::string("  W1"));
  EXPECT_EQ(TrimATAString(raw), "W1");
  EXPECT_EQ(DecodeATAString(s, kIdWordSerialFirst, kIdWordSerialLast).size(), 20u);
}

TEST(IdentifyText, ZeroBytesAndControlCharactersAreKeptRawAndTrimmedAtTheEnds) {
  Sector s{};
  SetWord(s, 23, 0x0041);  // NUL, 'A'
  SetWord(s, 24, 0x0042);  // NUL, 'B'
  SetWord(s, 25, 0x1F20);  // unit separator, space
  SetWord(s, 26, 0x0900);  // tab, NUL
  const std::string raw = DecodeATAString(s, 23, 26);
  EXPECT_EQ(raw, std::string("\0A\0B\x1F \t\0", 8));
  EXPECT_EQ(TrimATAString(raw), std::string("A\0B", 3));
  EXPECT_EQ(TrimATAString(std::string("\x7F\x80 x", 4)), std::string("\x7F\x80 x", 4));
  EXPECT_EQ(TrimATAString("   "), "");
  EXPECT_EQ(TrimATAString(""), "");
}

TEST(IdentifyVendor, PrefixesIgnoreCaseAndFollowTableOrder) {
  EXPECT_EQ(DecodeIdentify(SectorWithModel("WDC WD5000AAKS-00TMA0")).VendorCode, 'W');
  EXPECT_EQ(DecodeIdentify(SectorWithModel("Maxtor 6Y080L0")).VendorCode, 'A');
  EXPECT_EQ(DecodeIdentify(SectorWithModel("ExcelStor Technology J680")).VendorCode, 0);
  EXPECT_EQ(DecodeIdentify(SectorWithModel("   st3500418AS")).VendorCode, 'S');
  EXPECT_EQ(DecodeIdentify(SectorWithModel("SAMSUNG HD501LJ")).VendorCode, 'M');
  EXPECT_EQ(DecodeIdentify(SectorWithModel("INTEL SSDSA2CW120G3")).VendorCode, 0);
  EXPECT_EQ(DecodeIdentify(SectorWithModel("")).VendorCode, 0);
  EXPECT_EQ(VendorCodeForModel("S"), 0);  // shorter than every prefix
}

TEST(IdentifyVendor, LogoIndexComesFromTheSameTable) {
  ASSERT_EQ(VendorPrefixes().size(), 9u);
  for (size_t i = 0; i < VendorPrefixes().size(); ++i) {
    EXPECT_EQ(LogoIndexForVendorCode(VendorPrefixes()[i].code), static_cast<int>(i));
  }
  EXPECT_EQ(LogoIndexForVendorCode('Q'), 8);
  EXPECT_FALSE(LogoIndexForVendorCode(0).has_value());
  EXPECT_FALSE(LogoIndexForVendorCode('Z').has_value());
}

TEST(IdentifyCapacity, LBA48ReadsAllFourWords) {
  Sector s{};
  SetWord(s, 86, 1u << 10);
  SetWord(s, 60, 0xFFFF);
  SetWord(s, 61, 0x0FFF);
  SetWord(s, 100, 0x88B0);
  SetWord(s, 101, 0xE8E0);
  EXPECT_EQ(UserSectors(s), 3907029168u);
  EXPECT_EQ(CapacityGB(UserSectors(s)), 1863u);

  SetWord(s, 100, 0xA3B0);
  SetWord(s, 101, 0x5D50);
  SetWord(s, 102, 0x0001);
  EXPECT_EQ(UserSectors(s), 5860533168u);
  EXPECT_EQ(DecodeIdentify(s).CapacityGB, 2795u);
}

TEST(IdentifyCapacity, Without48BitAddressingWords60And61Count) {
  Sector s{};
  SetWord(s, 60, 0x9F3F);  // 39,100,223 sectors
  SetWord(s, 61, 0x0254);
  SetWord(s, 100, 0x1234);  // ignored without word 86 bit 10
  const IdentifyInfo info = DecodeIdentify(s);
  EXPECT_FALSE(info.LBA48);
  EXPECT_EQ(info.UserSectors, 39100223u);
  EXPECT_EQ(info.CapacityGB, 19u);
}

TEST(IdentifyCapacity, HalfwayGoesToTheEvenNeighbour) {
  EXPECT_EQ(CapacityGB(5242880), 2u);  // 2.5
  EXPECT_EQ(CapacityGB(7340032), 4u);  // 3.5
  EXPECT_EQ(CapacityGB(5242881), 3u);  // just above 2.5
  EXPECT_EQ(CapacityGB(1048575), 0u);  // just below 0.5
  EXPECT_EQ(CapacityGB(1048576), 0u);  // 0.5
  EXPECT_EQ(CapacityGB(0), 0u);
  EXPECT_EQ(CapacityGB(UINT64_MAX), UINT32_MAX);  // nonsense saturates, never wraps
}

TEST(IdentifyHpa, HiddenAreaSizeFromNativeMaxAddress) {
  EXPECT_EQ(HPASizeMB(999, 1000), 0);                 // no hidden area
  EXPECT_EQ(HPASizeMB(999 + 2048 * 100, 1000), 100);  // 100 MB hidden
  EXPECT_EQ(HPASizeMB(999 + 1024, 1000), 0);          // 0.5 goes to even 0
  EXPECT_EQ(HPASizeMB(999 + 3 * 1024, 1000), 2);      // 1.5 goes to even 2
  EXPECT_EQ(HPASizeMB(500, 1000), -1);                // below the user area: not believable
  EXPECT_EQ(HPASizeMB(0xFFFFFFFFFFFFull, 0), -1);
}

TEST(IdentifyFlags, Words85And86) {
  Sector s{};
  SetWord(s, 85, (1u << 0) | (1u << 10));
  IdentifyInfo info = DecodeIdentify(s);
  EXPECT_TRUE(info.SMARTEnabled);
  EXPECT_TRUE(info.HPAEnabled);
  EXPECT_FALSE(info.SecurityEnabled);
  EXPECT_FALSE(info.LBA48);

  SetWord(s, 85, 1u << 1);
  SetWord(s, 86, 1u << 10);
  info = DecodeIdentify(s);
  EXPECT_FALSE(info.SMARTEnabled);
  EXPECT_FALSE(info.HPAEnabled);
  EXPECT_TRUE(info.SecurityEnabled);
  EXPECT_TRUE(info.LBA48);
}

TEST(IdentifyRobustness, ShortOrEmptyInputDecodesAsZeros) {
  const std::vector<uint8_t> shortSector(61, 0x41);  // ends inside word 30 of the model
  const IdentifyInfo info = DecodeIdentify(shortSector);
  EXPECT_EQ(info.SerialNumber, std::string(20, 'A'));
  // Words 27-29 in full, then word 30 with only its low byte present, then zeros (trimmed).
  EXPECT_EQ(info.ModelNumber, std::string("AAAAAA\0A", 8));
  EXPECT_EQ(info.UserSectors, 0u);
  EXPECT_EQ(DecodeIdentify(std::span<const uint8_t>()).ModelText, std::string(40, '\0'));
}

// Real drives: their IDENTIFY sectors decode to what is printed on their labels.
std::vector<uint8_t> IdentifyOfRealDrive(const std::string& file) {
  std::ifstream in(std::string(DISKVIGIL_TEST_DATA_DIR) + "/real-drives/" + file);
  std::stringstream text;
  text << in.rdbuf();
  const std::string hex = nlohmann::json::parse(text.str()).at("identifyHex").get<std::string>();
  return BytesFromHex(hex).value_or(std::vector<uint8_t>{});
}

struct RealDrive {
  const char* file;
  const char* model;
  const char* serial;
  const char* firmware;
  char vendor;
  bool lba48;
  uint64_t sectors;
  uint32_t capacityGB;
};

class IdentifyRealDrive : public ::testing::TestWithParam<RealDrive> {};

TEST_P(IdentifyRealDrive, DecodesLabelFacts) {
  const RealDrive& d = GetParam();
  const std::vector<uint8_t> sector = IdentifyOfRealDrive(d.file);
  ASSERT_EQ(sector.size(), 512u);
  const IdentifyInfo info = DecodeIdentify(sector);
  EXPECT_EQ(info.ModelNumber, d.model);
  EXPECT_EQ(info.SerialNumber, d.serial);
  EXPECT_EQ(info.FirmwareRevision, d.firmware);
  EXPECT_EQ(info.VendorCode, d.vendor);
  EXPECT_EQ(info.LBA48, d.lba48);
  EXPECT_EQ(info.UserSectors, d.sectors);
  EXPECT_EQ(info.CapacityGB, d.capacityGB);
  EXPECT_EQ(info.ModelText.size(), 40u);
  EXPECT_TRUE(info.SMARTEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, IdentifyRealDrive,
    ::testing::Values(RealDrive{"WDC_WD5000AAKS--00TMA0-12.01C01.json", "WDC WD5000AAKS-00TMA0",
                                "WD-WCAPW0493929", "12.01C01", 'W', true, 976773168, 466},
                      RealDrive{"ST320410A--3.39.json", "ST320410A", "5FB3QF34", "3.39", 'S', false,
                                39100223, 19},
                      RealDrive{"Maxtor_96147H8--BAC51KJ0.json", "Maxtor 96147H8", "N80BR8EC",
                                "BAC51KJ0", 'A', false, 120060864, 57},
                      // The firmware field ends in zero bytes, which the trim removes.
                      RealDrive{"MCCOE64GEMPP--2.9.09.json", "MCCOE64GEMPP", "SE808N0608", "2.9.09",
                                0, false, 117231408, 56},
                      RealDrive{"INTEL_SSDSA2CW120G3--4PC10302.json", "INTEL SSDSA2CW120G3",
                                "CVPR109301UZ120LGN", "4PC10302", 0, true, 234441648, 112},
                      RealDrive{"TOSHIBA_MK1651GSY--38IGT0G5T.json", "TOSHIBA MK1651GSY",
                                "38IGT0G5T", "LD001D", 'T', true, 312581808, 149},
                      RealDrive{"FUJITSU_MHZ2160BH_G1--0084000A.json", "FUJITSU MHZ2160BH G1",
                                "K60WT8828LCB", "0084000A", 'F', true, 312581808, 149}),
    [](const auto& info) {
      std::string name;
      for (const char* c = info.param.file; *c != '\0' && *c != '-'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

// The Maxtor has the Host Protected Area on but no 48-bit addressing.
TEST(IdentifyRealDriveFlags, MaxtorHasHpaWithoutLba48) {
  const IdentifyInfo info = DecodeIdentify(IdentifyOfRealDrive("Maxtor_96147H8--BAC51KJ0.json"));
  EXPECT_TRUE(info.HPAEnabled);
  EXPECT_FALSE(info.LBA48);
}

}  // namespace
}  // namespace dv
