// `diskvigil-cli mbr`: sector 0 of drive POS, its four primary partitions and what their boot
// sectors hold, as the MBR window shows them.
#include <ostream>

#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "core/Mbr.h"
#include "core/MbrView.h"

namespace dv::cli {
namespace {

// The window's partition bar.
constexpr int kBarWidth = 409;
constexpr int kBarHeight = 20;

using OrderedJson = nlohmann::ordered_json;

OrderedJson PartitionJson(const PartitionEntry& e) {
  return {{"active", e.Active},
          {"typeName", e.TypeName},
          {"startLBA", e.StartLBA},
          {"sectorCount", e.SectorCount},
          {"sizeGB", e.SizeGB},
          {"serial", e.Serial},
          {"clusterSectors", e.ClusterSectors},
          {"volumeLabel", e.VolumeLabel},
          {"version", e.Version},
          {"dirty", e.Dirty},
          {"driveLetter", e.DriveLetter.empty() ? OrderedJson() : OrderedJson(e.DriveLetter)}};
}

OrderedJson LabelsJson(const PartitionGroupView& v) {
  return {{"active", v.active},
          {"dirty", v.dirty},
          {"fs", v.fs},
          {"dosLabel", v.dosLabel},
          {"volumeLabel", v.volumeLabel},
          {"serial", v.serial},
          {"clusterSize", v.clusterSize},
          {"start", v.start},
          {"count", v.count},
          {"volume", v.volume}};
}

OrderedJson BarJson(const std::optional<BarRect>& rect) {
  if (!rect) return nullptr;
  return OrderedJson::array({(*rect)[0], (*rect)[1], (*rect)[2], (*rect)[3]});
}

std::string Dump(const OrderedJson& json) {
  // Labels are bytes from the disk: anything that is not UTF-8 becomes U+FFFD.
  return json.dump(2, ' ', false, OrderedJson::error_handler_t::replace) + "\n";
}

std::string BarText(const std::optional<BarRect>& rect) {
  if (!rect) return "nothing";
  const BarRect& r = *rect;
  return "x " + std::to_string(r[0]) + ".." + std::to_string(r[2] - 1) + ", y " +
         std::to_string(r[1]) + ".." + std::to_string(r[3] - 1);
}

std::string GroupText(int k, const PartitionGroupView& v, const std::optional<BarRect>& bar) {
  std::string text = "Partition " + std::to_string(k) + (v.active ? "  Active" : "") +
                     (v.dirty ? "  Dirty" : "") + "\n";
  const auto line = [&](const char* name, const std::string& value) {
    std::string label = std::string(name) + ":";
    label.resize(16, ' ');
    text += "  " + label + PrintableText(value) + "\n";
  };
  line("Filesystem", v.fs);
  line("Volume Label", v.dosLabel.empty() ? v.volumeLabel : v.dosLabel + " " + v.volumeLabel);
  line("Serial Number", v.serial);
  line("Cluster Size", v.clusterSize);
  line("Start LBA", v.start);
  line("Sectors Count", v.count);
  line("Size", v.volume);
  line("Bar", BarText(bar));
  return text;
}

}  // namespace

int RunMbr(CliContext& ctx) {
  const auto words = ParseArguments(ctx, Position::Needed);
  if (!words) return kExitUsage;
  DriveTable table;
  const auto position = ProbeListedPosition(ctx, table, words->position);
  if (!position) return kExitFailure;
  const Drive& drive = table.At(*position);
  if (drive.IsNvme()) {
    // Sector 0 is read down the ATA path, where this number names another drive.
    ctx.err << "The MBR does not apply to NVMe drive " << *position << "\n";
    return kExitFailure;
  }

  const MbrReading reading = ReadMbr(ctx.system, drive);
  if (!reading.read) {
    if (ctx.json) {
      ctx.out << Dump({{"read", false},
                       {"diskId", nullptr},
                       {"signature", nullptr},
                       {"partitions", OrderedJson::array()},
                       {"labels", OrderedJson::array()},
                       {"bar", OrderedJson::array()}});
    }
    ctx.err << "Sector 0 of " << ctx.system.DescribeDrive(drive.DriveNumber)
            << " could not be read\n";
    return kExitFailure;
  }

  std::array<PartitionGroupView, 4> views;
  std::array<std::optional<BarRect>, 4> bars;
  for (size_t k = 0; k < 4; ++k) {
    views[k] = ViewPartitionGroup(reading.entries[k]);
    bars[k] = PartitionBarRect(reading.entries[k], drive.UserSectors, kBarWidth, kBarHeight);
  }

  if (ctx.json) {
    OrderedJson partitions = OrderedJson::array();
    OrderedJson labels = OrderedJson::array();
    OrderedJson bar = OrderedJson::array();
    for (size_t k = 0; k < 4; ++k) {
      partitions.push_back(PartitionJson(reading.entries[k]));
      labels.push_back(LabelsJson(views[k]));
      bar.push_back(BarJson(bars[k]));
    }
    ctx.out << Dump({{"read", true},
                     {"diskId", DiskIdText(reading.diskId)},
                     {"signature", SignatureText(reading.signature)},
                     {"partitions", partitions},
                     {"labels", labels},
                     {"bar", bar}});
    return kExitOk;
  }

  std::string text =
      "MBR of drive " + std::to_string(*position) + ": " + PrintableText(drive.ModelNumber) + "\n";
  text += "Volume ID: " + DiskIdText(reading.diskId) + "\n";
  text += "Signature: " + SignatureText(reading.signature) + "\n";
  for (size_t k = 0; k < 4; ++k) text += GroupText(static_cast<int>(k) + 1, views[k], bars[k]);
  ctx.out << text;
  return kExitOk;
}

}  // namespace dv::cli
