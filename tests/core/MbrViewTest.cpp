// The MBR window's texts, states and bar rectangles, as one model for the window and the CLI.
#include <gtest/gtest.h>

#include "core/MbrView.h"

// Entries are written with designated initializers naming only the fields that matter.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace dv {
namespace {

TEST(ViewPartitionGroupTest, EmptyEntry) {
  PartitionEntry e;
  e.TypeName = "Empty";
  e.Dirty = true;  // not shown without a sector count
  const PartitionGroupView v = ViewPartitionGroup(e);
  EXPECT_EQ(v, (PartitionGroupView{false, false, "Empty", "...", "...", "...", "...", "...", "...",
                                   "..."}));
  EXPECT_FALSE(PartitionBarRect(e, 1000, 409, 20));
}

TEST(ViewPartitionGroupTest, NtfsFatAndOtherTypes) {
  PartitionEntry ntfs{.Active = true,
                      .TypeName = "NTFS",
                      .StartLBA = 2048,
                      .SectorCount = 4096,
                      .SizeGB = 0,
                      .Serial = "0102030405060708",
                      .ClusterSectors = 8,
                      .VolumeLabel = "Win",
                      .Version = " 3.1",
                      .Dirty = true,
                      .DriveLetter = "C"};
  EXPECT_EQ(ViewPartitionGroup(ntfs),
            (PartitionGroupView{true, true, "NTFS 3.1", "C:", "Win", "0102030405060708", "4 K",
                                "2048", "4096", "0 GB"}));

  PartitionEntry fat{.TypeName = "FAT32 LBA",
                     .StartLBA = 4294967295u,
                     .SectorCount = 4294967295u,
                     .SizeGB = 2047,
                     .Serial = "CDAB3412",
                     .ClusterSectors = 64,
                     .VolumeLabel = ""};
  const PartitionGroupView f = ViewPartitionGroup(fat);
  EXPECT_EQ(f.fs, "FAT32 LBA");
  EXPECT_EQ(f.start, "4294967295") << "unsigned";
  EXPECT_EQ(f.volume, "2047 GB");
  EXPECT_EQ(f.clusterSize, "32 K");
  EXPECT_EQ(f.volumeLabel, "");
  EXPECT_EQ(f.dosLabel, "") << "no volume name: no text";

  PartitionEntry linuxEntry{.TypeName = "Linux",
                            .StartLBA = 63,
                            .SectorCount = 100,
                            .Serial = "ignored",
                            .DriveLetter = "/home"};
  const PartitionGroupView l = ViewPartitionGroup(linuxEntry);
  EXPECT_EQ(l.dosLabel, "/home") << "a mount point stands as it is";
  EXPECT_EQ(l.serial, "...");
  EXPECT_EQ(l.clusterSize, "...");
  EXPECT_EQ(l.volumeLabel, "...");
  EXPECT_EQ(l.start, "63");
  linuxEntry.DriveLetter = "/";
  EXPECT_EQ(ViewPartitionGroup(linuxEntry).dosLabel, "/");

  PartitionEntry ifs{.TypeName = "IFS", .SectorCount = 1};
  EXPECT_EQ(ViewPartitionGroup(ifs).serial, "...") << "an IFS volume that is not NTFS";
}

TEST(MbrTextsTest, IdentifierSignatureAndClusterSize) {
  EXPECT_EQ(DiskIdText(0x0000ABCD), "0000ABCD");
  EXPECT_EQ(DiskIdText(0xDEADBEEF), "DEADBEEF");
  EXPECT_EQ(SignatureText(0xAA55), "AA55h");
  EXPECT_EQ(SignatureText(0), "0000h");
  EXPECT_EQ(ClusterSizeText(8), "4 K");
  EXPECT_EQ(ClusterSizeText(64), "32 K");
  EXPECT_EQ(ClusterSizeText(3), "1 K");
  EXPECT_EQ(ClusterSizeText(255), "127 K");
  EXPECT_EQ(ClusterSizeText(0), "0 B");
  EXPECT_EQ(ClusterSizeText(1), "512 B");
}

PartitionEntry Span(uint32_t start, uint32_t count) {
  return PartitionEntry{.StartLBA = start, .SectorCount = count};
}

TEST(PartitionBarRectTest, ToScaleOnTheWindowBar) {
  const uint64_t t = 976773168;
  EXPECT_EQ(PartitionBarRect(Span(63, static_cast<uint32_t>(t - 63)), t, 409, 20),
            (BarRect{1, 1, 407, 18}))
      << "fills x 1..406, y 1..17";
  // A disk beyond 32 bits: the quotients use the 64-bit total.
  const uint64_t big = 1ULL << 33;
  EXPECT_EQ(PartitionBarRect(Span(1u << 30, 1u << 30), big, 409, 20), (BarRect{52, 1, 102, 18}));
  // The end is a 32-bit sum and wraps: such an entry paints nothing.
  EXPECT_FALSE(PartitionBarRect(Span(0xFFFFFF00u, 0x200), big, 409, 20));
  EXPECT_FALSE(PartitionBarRect(Span(0, 0), t, 409, 20));
  EXPECT_FALSE(PartitionBarRect(Span(0, 100), 0, 409, 20)) << "no capacity, no bar";
}

TEST(PartitionBarRectTest, TiesGoToEven) {
  // 16 sectors on an inner width of 8 pixels: half a pixel per sector.
  EXPECT_EQ(PartitionBarRect(Span(1, 4), 16, 10, 20), (BarRect{1, 1, 2, 18}));  // 0.5, 2.5
  EXPECT_EQ(PartitionBarRect(Span(3, 4), 16, 10, 20), (BarRect{3, 1, 4, 18}));  // 1.5, 3.5
}

TEST(PartitionBarRectTest, AbsurdEntriesStayInsideTheBar) {
  const auto r = PartitionBarRect(Span(0, 0xFFFFFFFF), 1, 409, 20);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, (BarRect{1, 1, 409, 18})) << "clipped to the image";
  EXPECT_FALSE(PartitionBarRect(Span(0xFFFFFFF0u, 5), 1, 409, 20));
  EXPECT_FALSE(PartitionBarRect(Span(0, 100), 100, 409, 2)) << "no rows inside the frame";
}

}  // namespace
}  // namespace dv
