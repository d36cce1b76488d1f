// Sector 0, the boot sectors and the NTFS volume record, decoded from images built here byte by
// byte, and the whole reading through the simulated drives.
#include <gtest/gtest.h>

#include "core/Drive.h"
#include "core/Mbr.h"
#include "kit/DiskImageBuilder.h"
#include "kit/InterceptingDrives.h"

// Entries are written with designated initializers naming only the fields that matter.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace dv {
namespace {

using test::Bytes;
using test::InterceptingDriveSystem;
using test::MakeMbr;
using Fault = InterceptingDriveSystem::Fault;

PartitionEntry Named(const std::string& typeName, uint32_t start = 0) {
  PartitionEntry e;
  e.TypeName = typeName;
  e.StartLBA = start;
  return e;
}

TEST(PartitionTypeNameTest, EveryNamedTypeAndAnyOther) {
  const std::vector<std::pair<uint8_t, std::string>> names{
      {0x00, "Empty"},        {0x01, "FAT12 CHS"},        {0x04, "FAT16 CHS <32M"},
      {0x05, "Extended CHS"}, {0x06, "BIGDOS FAT16 CHS"}, {0x07, "IFS"},
      {0x0B, "FAT32 CHS"},    {0x0C, "FAT32 LBA"},        {0x0E, "BIGDOS FAT16 LBA"},
      {0x0F, "Extended LBA"}, {0x42, "Dynamic disk"},     {0x82, "Linux swap"},
      {0x83, "Linux"},        {0x85, "Linux extended"}};
  int named = 0;
  for (int type = 0; type < 256; ++type) {
    const std::string name = PartitionTypeName(static_cast<uint8_t>(type));
    if (name != "...") ++named;
  }
  EXPECT_EQ(named, static_cast<int>(names.size()));
  for (const auto& [type, name] : names) EXPECT_EQ(PartitionTypeName(type), name);
  EXPECT_EQ(PartitionTypeName(0x1C), "...");
}

TEST(DecodeMbrTest, EntriesIdentifierAndSignature) {
  const Bytes s = MakeMbr(0x0000ABCD,
                          {{0x80, 0x07, 63, 2097152},
                           {0x81, 0x83, 2097215, 2097151},
                           {0x00, 0x00, 0, 0},
                           {0x00, 0x1C, 0xFFFFFFFF, 0xFFFFFFFF}},
                          0x0000);
  const MbrReading r = DecodeMbr(s);
  EXPECT_TRUE(r.read);
  EXPECT_EQ(r.diskId, 0x0000ABCDu);
  EXPECT_EQ(r.signature, 0) << "decoded whatever the signature";
  EXPECT_TRUE(r.entries[0].Active);
  EXPECT_FALSE(r.entries[1].Active) << "only 0x80 is active";
  EXPECT_EQ(r.entries[0].TypeName, "IFS");
  EXPECT_EQ(r.entries[0].StartLBA, 63u);
  EXPECT_EQ(r.entries[0].SizeGB, 1u);
  EXPECT_EQ(r.entries[1].SizeGB, 0u);
  EXPECT_EQ(r.entries[1].TypeName, "Linux");
  EXPECT_EQ(r.entries[2], PartitionEntry{.TypeName = "Empty"});
  EXPECT_EQ(r.entries[3].TypeName, "...");
  EXPECT_EQ(r.entries[3].SectorCount, 0xFFFFFFFFu);
  EXPECT_EQ(r.entries[3].SizeGB, 2047u);
}

TEST(DecodeBootSectorTest, FatSerialsLabelsAndTotals) {
  PartitionEntry fat12 = Named("FAT12 CHS");
  fat12.SectorCount = 999;
  DecodeBootSector(test::MakeFatBoot(false, 4, 2880, 0, 0x12345678, "FLOPPY     "), fat12);
  EXPECT_EQ(fat12.Serial, "78563412") << "bytes in the order stored";
  EXPECT_EQ(fat12.VolumeLabel, "FLOPPY");
  EXPECT_EQ(fat12.SectorCount, 2880u);
  EXPECT_EQ(fat12.ClusterSectors, 4);

  PartitionEntry fat16 = Named("FAT16 CHS <32M");
  DecodeBootSector(test::MakeFatBoot(false, 2, 0, 65000, 0xA1B2C3D4, " MY  DISK \x01 "), fat16);
  EXPECT_EQ(fat16.SectorCount, 65000u) << "the 32-bit total when the 16-bit one is 0";
  EXPECT_EQ(fat16.Serial, "D4C3B2A1");
  EXPECT_EQ(fat16.VolumeLabel, "MY  DISK") << "inner blanks stay, codes <= 32 go at the ends";

  PartitionEntry fat32 = Named("FAT32 LBA");
  DecodeBootSector(test::MakeFatBoot(true, 64, 0, 4194304, 0x1234ABCD, "DATA32     "), fat32);
  EXPECT_EQ(fat32.Serial, "CDAB3412");
  EXPECT_EQ(fat32.VolumeLabel, "DATA32");
  EXPECT_EQ(fat32.ClusterSectors, 64);
  EXPECT_FALSE(fat32.Dirty);
  EXPECT_EQ(fat32.TypeName, "FAT32 LBA");
}

TEST(DecodeBootSectorTest, OnlyFatNamesAndNtfsUnderIfsAreDecoded) {
  PartitionEntry ntfs = Named("IFS");
  DecodeBootSector(test::MakeNtfsBoot(8, 786432, 0xF0DEBC9A78563412ULL), ntfs);
  EXPECT_EQ(ntfs.TypeName, "NTFS");
  EXPECT_EQ(ntfs.Serial, "123456789ABCDEF0");
  EXPECT_EQ(ntfs.ClusterSectors, 8);
  EXPECT_EQ(ntfs.MftCluster, 786432);

  PartitionEntry exfat = Named("IFS");
  DecodeBootSector(test::MakeNtfsBoot(8, 4, 1, "EXFAT   "), exfat);
  EXPECT_EQ(exfat, Named("IFS"));

  const Bytes fat = test::MakeFatBoot(false, 4, 100, 0, 1, "NAME       ");
  for (const char* name : {"BIGDOS FAT16 LBA", "BIGDOS FAT16 CHS", "Linux", "...", "NTFS"}) {
    PartitionEntry e = Named(name);
    DecodeBootSector(fat, e);
    EXPECT_EQ(e, Named(name)) << name;
  }
  PartitionEntry linuxEntry = Named("Linux");
  DecodeBootSector(test::MakeNtfsBoot(8, 4, 1), linuxEntry);
  EXPECT_EQ(linuxEntry, Named("Linux")) << "the NTFS test runs only for IFS";
}

TEST(NtfsVolumeRecordLbaTest, RecordThreeAndWrapping) {
  PartitionEntry e = Named("NTFS", 2048);
  e.ClusterSectors = 8;
  e.MftCluster = 4;
  EXPECT_EQ(NtfsVolumeRecordLba(e), 2048u + 32 + 6);
  e.MftCluster = 0x100000001LL;  // only the low 32 bits count
  e.StartLBA = 0xFFFFFFF8u;
  EXPECT_EQ(NtfsVolumeRecordLba(e), 6u);
}

TEST(DecodeNtfsVolumeRecordTest, NameVersionAndDirtyFlag) {
  PartitionEntry e = Named("NTFS");
  DecodeNtfsVolumeRecord(test::VolumeRecordBuilder()
                             .Attribute(0x10, std::vector<uint8_t>(0x48))
                             .Name(u"Daten")
                             .Information(3, 1, 0x0001)
                             .Attribute(0x80, {})
                             .End()
                             .Build(),
                         e);
  EXPECT_EQ(e.VolumeLabel, "Daten");
  EXPECT_EQ(e.Version, " 3.1");
  EXPECT_TRUE(e.Dirty);

  PartitionEntry clean = Named("NTFS");
  clean.VolumeLabel = "old";
  DecodeNtfsVolumeRecord(
      test::VolumeRecordBuilder().Name(u"").Information(1, 2, 0x8000).End().Build(), clean);
  EXPECT_EQ(clean.VolumeLabel, "") << "an empty name value gives an empty label";
  EXPECT_EQ(clean.Version, " 1.2");
  EXPECT_FALSE(clean.Dirty);

  PartitionEntry afterData = Named("NTFS");
  DecodeNtfsVolumeRecord(
      test::VolumeRecordBuilder().Attribute(0x80, {1, 2}).Information(3, 1, 1).Build(), afterData);
  EXPECT_EQ(afterData.Version, "") << "the data attribute ends the walk";
}

TEST(DecodeNtfsVolumeRecordTest, LabelIsUtf8) {
  PartitionEntry e = Named("NTFS");
  DecodeNtfsVolumeRecord(test::VolumeRecordBuilder().Name(u"B\u00e4r \u20ac\U0001F600").Build(), e);
  EXPECT_EQ(e.VolumeLabel, "B\xC3\xA4r \xE2\x82\xAC\xF0\x9F\x98\x80");
  DecodeNtfsVolumeRecord(test::VolumeRecordBuilder()
                             .Name(u"a\xD800"
                                   u"b\xDC00")
                             .Build(),
                         e);
  EXPECT_EQ(e.VolumeLabel,
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD")
      << "lone surrogates";
}

// Records that would send the walk round for ever or out of the sector end with what was found.
TEST(DecodeNtfsVolumeRecordTest, WalkNeverLeavesTheSector) {
  {  // an attribute of length 0 after the name
    test::VolumeRecordBuilder b;
    b.Name(u"Kept");
    const size_t at = b.Offset();
    b.Information(3, 1, 1);
    PutLe32(b.Sector(), at + 4, 0);
    b.Information(9, 9, 0);
    PartitionEntry e = Named("NTFS");
    DecodeNtfsVolumeRecord(b.Build(), e);
    EXPECT_EQ(e.VolumeLabel, "Kept");
    EXPECT_EQ(e.Version, " 3.1") << "the attribute itself is still read";
  }
  {  // a length that runs past the sector
    test::VolumeRecordBuilder b;
    b.Information(3, 1, 0);
    const size_t at = b.Offset();
    b.Name(u"Label");
    PutLe32(b.Sector(), at + 4, 0x400);
    PartitionEntry e = Named("NTFS");
    DecodeNtfsVolumeRecord(b.Build(), e);
    EXPECT_EQ(e.Version, " 3.1");
    EXPECT_EQ(e.VolumeLabel, "Label");
  }
  {  // no data attribute and no end marker: attributes to the last byte
    test::VolumeRecordBuilder b;
    while (b.Offset() + 0x18 <= kSectorSize) b.Attribute(0x10, {});
    PartitionEntry e = Named("NTFS");
    DecodeNtfsVolumeRecord(b.Build(), e);
    EXPECT_EQ(e, Named("NTFS"));
  }
  {  // a name whose value length reaches far past the sector: cut at its end
    test::VolumeRecordBuilder b;
    const size_t at = b.Offset();
    b.Name(u"x");
    for (size_t i = at + 0x18; i < kSectorSize; ++i) b.Sector()[i] = i % 2 == 0 ? 'z' : 0;
    PutLe32(b.Sector(), at + 0x10, 0xFFFFFFFF);
    PartitionEntry e = Named("NTFS");
    DecodeNtfsVolumeRecord(b.Build(), e);
    EXPECT_EQ(e.VolumeLabel, std::string((kSectorSize - at - 0x18) / 2, 'z'));
  }
  {  // value offsets that point past the sector, headers that do not fit
    for (uint16_t valueOffset : {uint16_t{0x1F0}, uint16_t{0xFFFF}}) {
      test::VolumeRecordBuilder b;
      const size_t at = b.Offset();
      b.Information(3, 1, 1);
      PutLe16(b.Sector(), at + 0x14, valueOffset);
      PartitionEntry e = Named("NTFS");
      DecodeNtfsVolumeRecord(b.Build(), e);
      EXPECT_EQ(e.Version, "") << valueOffset;
    }
    for (uint16_t first :
         {uint16_t{500}, uint16_t{508}, uint16_t{511}, uint16_t{512}, uint16_t{0xFFFF}}) {
      Bytes s{};
      PutLe16(s, 0x14, first);
      for (size_t i = 0x16; i < kSectorSize; ++i) s[i] = 0x60;
      PartitionEntry e = Named("NTFS");
      DecodeNtfsVolumeRecord(s, e);
      EXPECT_EQ(e.Version, "") << first;
    }
  }
}

// --- Reading through the drive system --------------------------------------------------------

Drive DriveFor(int number, bool lba48, uint64_t sectors) {
  Drive d;
  d.DriveNumber = static_cast<uint8_t>(number);
  d.LBA48 = lba48;
  d.UserSectors = sectors;
  return d;
}

TEST(ReadSectorTest, TwentyEightBitRegistersAtAHighLba) {
  const uint32_t lba = 0x0ABCDEF1;
  Bytes marked{};
  marked[0] = 0x28;
  SimulatedDriveSystem sim({test::MakeDiskDrive(3, 0x0FFFFFFF, false, {{lba, marked}})});
  InterceptingDriveSystem system(sim);
  const auto sector = ReadSector(system, DriveFor(3, false, 0x0FFFFFFF), lba, true);
  ASSERT_TRUE(sector);
  EXPECT_EQ((*sector)[0], 0x28);
  ASSERT_EQ(system.requests.size(), 1u);
  const AtaRequestHeader& h = system.requests[0];
  EXPECT_EQ(h.ataFlags, 0x03);
  EXPECT_EQ(h.dataTransferLength, 512u);
  EXPECT_EQ(h.current, (TaskFile{0, 1, 0xF1, 0xDE, 0xBC, 0x5A, 0x20, 0}));
  EXPECT_EQ(h.previous, TaskFile{});
  EXPECT_EQ(sim.OpenHandleCount(), 0);

  // Bits 31..28 do not fit a 28-bit command: no request at all rather than the wrong sector.
  EXPECT_FALSE(ReadSector(system, DriveFor(3, false, 0x0FFFFFFF), 0x1ABCDEF1, false));
  EXPECT_EQ(system.requests.size(), 1u);
}

TEST(ReadSectorTest, FortyEightBitRegistersAtAHighLba) {
  const uint32_t lba = 0xFEDCBA98;
  Bytes marked{};
  marked[0] = 0x48;
  SimulatedDriveSystem sim({test::MakeDiskDrive(2, 0x200000000ULL, true, {{lba, marked}})});
  InterceptingDriveSystem system(sim);
  const auto sector = ReadSector(system, DriveFor(2, true, 0x200000000ULL), lba, true);
  ASSERT_TRUE(sector);
  EXPECT_EQ((*sector)[0], 0x48);
  const AtaRequestHeader& h = system.requests.at(0);
  EXPECT_EQ(h.ataFlags, 0x0B);
  EXPECT_EQ(h.current, (TaskFile{0, 1, 0x98, 0xBA, 0xDC, 0x40, 0x24, 0}));
  EXPECT_EQ(h.previous, (TaskFile{0, 0, 0xFE, 0, 0, 0, 0, 0}));
}

TEST(ReadSectorTest, ErrorBitJudgedOnlyWhenAsked) {
  SimulatedDriveSystem sim({test::MakeDiskDrive(0, 1000, false, {})});
  InterceptingDriveSystem system(sim);
  system.FailAt(Fault::ErrBit, 1);
  EXPECT_TRUE(ReadSector(system, DriveFor(0, false, 1000), 0, false));
  system.FailAt(Fault::ErrBit, 2);
  EXPECT_FALSE(ReadSector(system, DriveFor(0, false, 1000), 0, true));
  system.FailAt(Fault::Call, 3);
  EXPECT_FALSE(ReadSector(system, DriveFor(0, false, 1000), 0, false));
  system.FailAt(Fault::Open, 4);
  EXPECT_FALSE(ReadSector(system, DriveFor(0, false, 1000), 0, false));
  EXPECT_EQ(sim.OpenHandleCount(), 0);
}

// A disk with FAT16, FAT32, NTFS and an extended partition.
constexpr uint32_t kNtfsStart = 2162688;
constexpr uint32_t kNtfsRecord = kNtfsStart + 4 * 8 + 6;

std::vector<std::pair<uint64_t, Bytes>> FourPartitionDisk() {
  return {
      {0, MakeMbr(0x1D2C3B4A, {{0x80, 0x04, 63, 65472},
                               {0x00, 0x0C, 65536, 2097152},
                               {0x00, 0x07, kNtfsStart, 4194304},
                               {0x00, 0x0F, 6356992, 2048}})},
      {63, test::MakeFatBoot(false, 4, 65470, 0, 0x0A0B0C0D, "SMALL      ")},
      {65536, test::MakeFatBoot(true, 8, 0, 2097150, 0x11223344, "BIG32      ")},
      {kNtfsStart, test::MakeNtfsBoot(8, 4, 0x0807060504030201ULL)},
      {kNtfsRecord, test::VolumeRecordBuilder().Name(u"Win").Information(3, 1, 1).End().Build()},
  };
}

MbrReading ExpectedFourPartitionReading() {
  MbrReading r;
  r.read = true;
  r.diskId = 0x1D2C3B4A;
  r.signature = 0xAA55;
  r.entries[0] = {.Active = true,
                  .TypeName = "FAT16 CHS <32M",
                  .StartLBA = 63,
                  .SectorCount = 65470,
                  .SizeGB = 0,
                  .Serial = "0D0C0B0A",
                  .ClusterSectors = 4,
                  .VolumeLabel = "SMALL",
                  .DriveLetter = "C"};
  r.entries[1] = {.TypeName = "FAT32 LBA",
                  .StartLBA = 65536,
                  .SectorCount = 2097150,
                  .SizeGB = 1,
                  .Serial = "44332211",
                  .ClusterSectors = 8,
                  .VolumeLabel = "BIG32"};
  r.entries[2] = {.TypeName = "NTFS",
                  .StartLBA = kNtfsStart,
                  .SectorCount = 4194304,
                  .SizeGB = 2,
                  .Serial = "0102030405060708",
                  .ClusterSectors = 8,
                  .MftCluster = 4,
                  .VolumeLabel = "Win",
                  .Version = " 3.1",
                  .Dirty = true,
                  .DriveLetter = "/mnt/win"};
  r.entries[3] = {.TypeName = "Extended LBA", .StartLBA = 6356992, .SectorCount = 2048};
  return r;
}

void ExpectReading(const MbrReading& got, const MbrReading& want) {
  EXPECT_EQ(got.read, want.read);
  EXPECT_EQ(got.diskId, want.diskId);
  EXPECT_EQ(got.signature, want.signature);
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(got.entries[k], want.entries[k]) << "entry " << k + 1;
}

TEST(ReadMbrTest, WholeReadingOnOddAndEvenDrives) {
  for (const auto& [number, lba48] : {std::pair{1, false}, std::pair{2, true}}) {
    SCOPED_TRACE(number);
    SimulatedDrive drive = test::MakeDiskDrive(number, 8388608, lba48, FourPartitionDisk());
    drive.volumes = {{1, "C"}, {3, "/mnt/win"}};
    SimulatedDriveSystem sim({drive});
    InterceptingDriveSystem system(sim);
    ExpectReading(ReadMbr(system, DriveFor(number, lba48, 8388608)),
                  ExpectedFourPartitionReading());
    // Sector 0, three boot sectors (the extended one read but not decoded), the volume record.
    ASSERT_EQ(system.requests.size(), 6u);
    EXPECT_EQ(system.Opens(), 6);
    for (const AtaRequestHeader& h : system.requests) {
      EXPECT_EQ(h.current.device, number == 1 ? 0x50 : 0x40);
      EXPECT_EQ(h.current.command, lba48 ? 0x24 : 0x20);
    }
    EXPECT_EQ(system.requests[4].current.lbaLow, kNtfsRecord & 0xFF);
    EXPECT_EQ(sim.OpenHandleCount(), 0);
  }
}

TEST(ReadMbrTest, AFailureAtEachStepClosesEveryHandle) {
  for (Fault fault : {Fault::Open, Fault::Call, Fault::ErrBit}) {
    for (int step = 1; step <= 6; ++step) {
      SCOPED_TRACE(testing::Message() << "fault " << static_cast<int>(fault) << " step " << step);
      SimulatedDrive drive = test::MakeDiskDrive(1, 8388608, false, FourPartitionDisk());
      drive.volumes = {{1, "C"}, {3, "/mnt/win"}};
      SimulatedDriveSystem sim({drive});
      InterceptingDriveSystem system(sim);
      system.FailAt(fault, step);
      const MbrReading got = ReadMbr(system, DriveFor(1, false, 8388608));
      EXPECT_EQ(sim.OpenHandleCount(), 0);

      MbrReading want = ExpectedFourPartitionReading();
      if (step == 1) {
        if (fault != Fault::ErrBit) {
          ExpectReading(got, MbrReading{});
          continue;
        }  // sector 0 is judged on the platform call alone
      } else if (step == 2 || step == 3) {
        // The FAT entry keeps what sector 0 gave it.
        PartitionEntry& e = want.entries[static_cast<size_t>(step - 2)];
        e = {.Active = e.Active,
             .TypeName = e.TypeName,
             .StartLBA = e.StartLBA,
             .SectorCount = step == 2 ? 65472u : 2097152u,
             .SizeGB = e.SizeGB,
             .DriveLetter = e.DriveLetter};
      } else if (step == 4) {
        want.entries[2] = {.TypeName = "IFS",
                           .StartLBA = kNtfsStart,
                           .SectorCount = 4194304,
                           .SizeGB = 2,
                           .DriveLetter = "/mnt/win"};
      } else if (step == 5) {
        want.entries[2].VolumeLabel.clear();
        want.entries[2].Version.clear();
        want.entries[2].Dirty = false;
      }
      ExpectReading(got, want);
    }
  }
}

}  // namespace
}  // namespace dv
