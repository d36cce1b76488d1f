// Every drive flow, failed at every open and every exchange in every way a back end reports
// trouble. The places come from one clean run of the flow; each faulted run must close every
// handle, send nothing outside the catalogue, and end in the outcome the flow promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "core/AamApm.h"
#include "core/Enumerate.h"
#include "core/Mbr.h"
#include "core/Monitor.h"
#include "core/SmartData.h"
#include "kit/FaultSweep.h"

namespace dv {
namespace {

using test::FaultCase;
using test::FaultKind;
using test::FaultyDriveSystem;

// The demo drives, read from their files once per process: every case builds its drives afresh.
const std::vector<SimulatedDrive>& DemoDriveList() {
  static const std::vector<SimulatedDrive> drives = [] {
    std::string error;
    auto system = SimulatedDriveSystem::Load(DISKVIGIL_SOURCE_DIR "/data/demo", error);
    if (!system) throw std::runtime_error(error);
    return system->Drives();
  }();
  return drives;
}

std::unique_ptr<SimulatedDriveSystem> DemoDrives() {
  return std::make_unique<SimulatedDriveSystem>(DemoDriveList());
}

// The first demo drive alone: S.M.A.R.T. on, 48-bit, AAM and APM, FAT and NTFS partitions.
std::unique_ptr<SimulatedDriveSystem> OneDrive() {
  return std::make_unique<SimulatedDriveSystem>(
      std::vector<SimulatedDrive>{DemoDriveList().front()});
}

DriveTable ProbedTable(SimulatedDriveSystem& system) {
  DriveTable table;
  ProbeDrives(system, table);
  for (int k = 1; k <= table.DriveCount; ++k) {
    table.At(k).Temperature = -99;  // marks a temperature no read has replaced
    table.At(k).SMARTStatusOK = true;
  }
  return table;
}

bool Is(const FaultCase& fault, AtaCommand command) { return fault.step.command == command; }

// The promise of ReadSMART for one read whose command `fault` hit.
ReadSmartResult ExpectedRead(const FaultCase& fault, const ReadSmartResult& clean) {
  ReadSmartResult expected = clean;
  if (Is(fault, AtaCommand::SmartReturnStatus)) {
    // No open: nothing is known. A failed exchange: a bad verdict, and the read goes on.
    if (fault.kind == FaultKind::OpenFails) return ReadSmartResult{};
    expected.verdictReached = true;
    expected.statusOK = false;
  } else {
    expected.sectorsRead = false;
  }
  return expected;
}

void ExpectSameRead(const ReadSmartResult& actual, const ReadSmartResult& expected) {
  EXPECT_EQ(actual.verdictReached, expected.verdictReached);
  EXPECT_EQ(actual.statusOK, expected.statusOK);
  EXPECT_EQ(actual.sectorsRead, expected.sectorsRead);
}

// One test per flow over every case its clean run yields. A flow is a struct with Make() (the
// drives), Run(DriveSystem&) (the flow, returning what it produced) and Check(fault, clean,
// faulted) (the promise).
#define DV_FAULT_SWEEP(Flow)                                                                  \
  class Flow##Sweep : public ::testing::TestWithParam<FaultCase> {};                          \
  TEST_P(Flow##Sweep, EndsAsPromisedWithEveryHandleClosed) {                                  \
    static const auto clean = [] {                                                            \
      auto system = Flow::Make();                                                             \
      return Flow::Run(*system);                                                              \
    }();                                                                                      \
    auto simulated = Flow::Make();                                                            \
    FaultyDriveSystem faulty(*simulated, GetParam());                                         \
    const auto outcome = Flow::Run(faulty);                                                   \
    test::ExpectCleanAftermath(faulty, *simulated);                                           \
    Flow::Check(GetParam(), clean, outcome);                                                  \
  }                                                                                           \
  INSTANTIATE_TEST_SUITE_P(AllFaults, Flow##Sweep,                                            \
                           ::testing::ValuesIn(test::SweepCases(                              \
                               &Flow::Make, [](DriveSystem& system) { Flow::Run(system); })), \
                           test::FaultCaseName)

struct Enumeration {
  struct Outcome {
    bool found = false;
    DriveTable table;
  };
  static std::unique_ptr<SimulatedDriveSystem> Make() { return DemoDrives(); }
  static Outcome Run(DriveSystem& system) {
    Outcome outcome;
    outcome.found = ProbeDrives(system, outcome.table);
    return outcome;
  }
  static void Check(const FaultCase& fault, const Outcome& clean, const Outcome& faulted) {
    // A drive that cannot be opened, or refuses S.M.A.R.T. ENABLE or IDENTIFY, is not listed; any
    // other failure only loses what that command would have added.
    // (An open stands for the first command sent on it; an absent drive's open stands for none.)
    const bool dropped = Is(fault, AtaCommand::SmartEnable) || Is(fault, AtaCommand::Identify);
    std::vector<const Drive*> expected;
    for (int k = 1; k <= clean.table.DriveCount; ++k) {
      const Drive& drive = clean.table.At(k);
      if (!(dropped && drive.DriveNumber == fault.step.driveNumber)) expected.push_back(&drive);
    }
    ASSERT_EQ(faulted.table.DriveCount, static_cast<int>(expected.size()));
    EXPECT_EQ(faulted.found, !expected.empty());
    for (int k = 1; k <= faulted.table.DriveCount; ++k) {
      const Drive& got = faulted.table.At(k);
      const Drive& want = *expected[static_cast<size_t>(k - 1)];
      EXPECT_EQ(got.DriveNumber, want.DriveNumber);
      EXPECT_EQ(got.ModelNumber, want.ModelNumber);
      EXPECT_EQ(got.SerialNumber, want.SerialNumber);
      EXPECT_EQ(got.CapacityGB, want.CapacityGB);
      EXPECT_EQ(got.SMARTEnabled, want.SMARTEnabled);
      const bool lostNativeMax =
          Is(fault, AtaCommand::ReadNativeMaxExt) && got.DriveNumber == fault.step.driveNumber;
      EXPECT_EQ(got.HPASizeMB, lostNativeMax ? -1 : want.HPASizeMB);
    }
  }
};
DV_FAULT_SWEEP(Enumeration);

struct SmartRead {
  static Sector Earlier() {  // what an earlier read left
    Sector sector;
    sector.fill(0xEE);
    return sector;
  }
  struct Outcome {
    ReadSmartResult result;
    Drive drive;
    SmartSectors sectors;
  };
  static std::unique_ptr<SimulatedDriveSystem> Make() { return OneDrive(); }
  static Outcome Run(DriveSystem& system) {
    auto probe = Make();
    DriveTable table = ProbedTable(*probe);
    Outcome outcome;
    outcome.sectors.SMARTData = Earlier();
    outcome.sectors.SMARTThresholds = Earlier();
    outcome.result = ReadSMART(system, table, 1, outcome.sectors);
    outcome.drive = table.At(1);
    return outcome;
  }
  static void Check(const FaultCase& fault, const Outcome& clean, const Outcome& faulted) {
    ASSERT_TRUE(clean.result.Passed());
    const ReadSmartResult expected = ExpectedRead(fault, clean.result);
    ExpectSameRead(faulted.result, expected);
    // The verdict is stored only when one was reached; the sectors only when each was read.
    EXPECT_EQ(faulted.drive.SMARTStatusOK, expected.verdictReached ? expected.statusOK : true);
    // The sectors are replaced one by one, each only when its read succeeded.
    const bool dataRead = expected.sectorsRead || Is(fault, AtaCommand::SmartReadThresholds);
    EXPECT_EQ(faulted.sectors.SMARTData, dataRead ? clean.sectors.SMARTData : Earlier());
    EXPECT_EQ(faulted.sectors.SMARTThresholds,
              expected.sectorsRead ? clean.sectors.SMARTThresholds : Earlier());
    EXPECT_EQ(faulted.drive.Temperature, expected.sectorsRead ? clean.drive.Temperature : -99);
  }
};
DV_FAULT_SWEEP(SmartRead);

struct MonitoringPass {
  struct Outcome {
    PassOutcome pass;
    std::vector<PositionReading> readings;
    DriveTable table;
  };
  static std::unique_ptr<SimulatedDriveSystem> Make() { return DemoDrives(); }
  static Outcome Run(DriveSystem& system) {
    auto probe = Make();
    Outcome outcome;
    outcome.table = ProbedTable(*probe);
    SmartSectors sectors;
    Monitor monitor(system, outcome.table, sectors);
    outcome.pass = monitor.CheckHDDs(1, [&](const PositionReading& reading, const SmartSectors&) {
      outcome.readings.push_back(reading);
    });
    return outcome;
  }
  static void Check(const FaultCase& fault, const Outcome& clean, const Outcome& faulted) {
    // Every position is read whatever the one before it gave; only the faulted one changes.
    ASSERT_EQ(faulted.readings.size(), clean.readings.size());
    for (size_t i = 0; i < clean.readings.size(); ++i) {
      const PositionReading& want = clean.readings[i];
      const PositionReading& got = faulted.readings[i];
      EXPECT_EQ(got.position, want.position);
      EXPECT_EQ(got.monitored, want.monitored);
      EXPECT_EQ(got.shown, want.shown);
      const Drive& drive = faulted.table.At(got.position);
      if (drive.DriveNumber == fault.step.driveNumber) {
        ExpectSameRead(got.result, ExpectedRead(fault, want.result));
        if (!got.result.sectorsRead) {
          EXPECT_EQ(drive.Temperature, -99);
        }
      } else {
        ExpectSameRead(got.result, want.result);
        EXPECT_EQ(drive.Temperature, clean.table.At(got.position).Temperature);
      }
    }
    EXPECT_FALSE(faulted.pass.good);
    EXPECT_EQ(faulted.pass.activityMark, clean.pass.activityMark);
  }
};
DV_FAULT_SWEEP(MonitoringPass);

// A back end that sends each batch whole (the drive helper) also carries commands the pass then
// drops; what a fault costs must stay the same.
class WholeBatches : public DriveSystem {
 public:
  explicit WholeBatches(DriveSystem& inner) : inner_(inner) {}
  DriveHandlePtr Open(int driveNumber) override { return inner_.Open(driveNumber); }
  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    return inner_.VolumeName(driveNumber, partition);
  }
  std::string DescribeDrive(int driveNumber) const override {
    return inner_.DescribeDrive(driveNumber);
  }
  bool SendsBatchesWhole() const override { return true; }

 private:
  DriveSystem& inner_;
};

struct MonitoringPassSentWhole : MonitoringPass {
  static Outcome Run(DriveSystem& system) {
    WholeBatches whole(system);
    return MonitoringPass::Run(whole);
  }
};
DV_FAULT_SWEEP(MonitoringPassSentWhole);

// Reading both levels: one IDENTIFY each, on its own open.
struct FeatureRead {
  using Outcome = std::array<FeatureState, 2>;
  static std::unique_ptr<SimulatedDriveSystem> Make() { return OneDrive(); }
  static Outcome Run(DriveSystem& system) {
    const int drive = DemoDriveList().front().driveNumber;
    return {ReadAAM(system, drive), ReadAPM(system, drive)};
  }
  static void Check(const FaultCase& fault, const Outcome& clean, const Outcome& faulted) {
    ASSERT_TRUE(clean[0].Supported && clean[1].Supported);
    // The fault hit the read with the same number as the open or exchange: that one gives the
    // defaults, the other is untouched. Only the platform call decides: an IDENTIFY answered with
    // ERR still counts.
    const size_t hit = static_cast<size_t>(fault.index - 1);
    const bool lost = fault.kind != FaultKind::ErrSet;
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(faulted[i], i == hit && lost ? FeatureState{} : clean[i]);
    }
  }
};
DV_FAULT_SWEEP(FeatureRead);

struct FeatureSet {
  using Outcome = std::array<bool, 4>;
  static std::unique_ptr<SimulatedDriveSystem> Make() { return OneDrive(); }
  static Outcome Run(DriveSystem& system) {
    const int drive = DemoDriveList().front().driveNumber;
    return {SetAAM(system, drive, 0x80, true), SetAPM(system, drive, 0xFE, true),
            SetAAM(system, drive, 0, false), SetAPM(system, drive, 0, false)};
  }
  static void Check(const FaultCase& fault, const Outcome& clean, const Outcome& faulted) {
    // True exactly when the platform accepted the request: a drive that aborts it still counts.
    const size_t hit = static_cast<size_t>(fault.index - 1);
    for (size_t i = 0; i < faulted.size(); ++i) {
      ASSERT_TRUE(clean[i]);
      EXPECT_EQ(faulted[i], i != hit || fault.kind == FaultKind::ErrSet) << "request " << i;
    }
  }
};
DV_FAULT_SWEEP(FeatureSet);

struct MbrRead {
  static std::unique_ptr<SimulatedDriveSystem> Make() { return OneDrive(); }
  static Drive TheDrive() {
    auto probe = Make();
    return ProbedTable(*probe).At(1);
  }
  static MbrReading Run(DriveSystem& system) { return ReadMbr(system, TheDrive()); }

  // Each entry as it stands after sector 0 alone and after its boot sector too.
  struct Stages {
    std::array<PartitionEntry, 4> fromTable;
    std::array<PartitionEntry, 4> fromBootSector;
  };
  static Stages EntryStages(const MbrReading& clean) {
    auto system = Make();
    const Drive drive = TheDrive();
    Stages stages;
    const MbrReading table = DecodeMbr(*ReadSector(*system, drive, 0, false));
    for (size_t k = 0; k < 4; ++k) {
      stages.fromTable[k] = table.entries[k];
      stages.fromTable[k].DriveLetter = clean.entries[k].DriveLetter;
      stages.fromBootSector[k] = stages.fromTable[k];
      if (auto boot = ReadSector(*system, drive, table.entries[k].StartLBA, true))
        DecodeBootSector(*boot, stages.fromBootSector[k]);
    }
    return stages;
  }

  static void Check(const FaultCase& fault, const MbrReading& clean, const MbrReading& faulted) {
    ASSERT_TRUE(clean.read);
    if (fault.step.lba == 0) {
      // Sector 0 counts on the platform call alone: an ERR answer still reads.
      if (fault.kind == FaultKind::ErrSet) {
        EXPECT_EQ(faulted.entries, clean.entries);
        return;
      }
      EXPECT_FALSE(faulted.read);
      EXPECT_EQ(faulted.entries, MbrReading{}.entries);
      return;
    }
    // A boot sector or volume record that cannot be read leaves its entry as far as it got.
    ASSERT_TRUE(faulted.read);
    EXPECT_EQ(faulted.diskId, clean.diskId);
    const Stages stages = EntryStages(clean);
    bool matched = false;
    for (size_t k = 0; k < 4; ++k) {
      const PartitionEntry& want = clean.entries[k];
      if (!matched && want.TypeName != "Empty" && fault.step.lba == stages.fromTable[k].StartLBA) {
        matched = true;
        EXPECT_EQ(faulted.entries[k], stages.fromTable[k]) << "entry " << k + 1;
      } else if (!matched && want.TypeName == "NTFS" &&
                 fault.step.lba == NtfsVolumeRecordLba(stages.fromBootSector[k])) {
        matched = true;
        EXPECT_EQ(faulted.entries[k], stages.fromBootSector[k]) << "entry " << k + 1;
      } else {
        EXPECT_EQ(faulted.entries[k], want) << "entry " << k + 1;
      }
    }
    EXPECT_TRUE(matched) << "no entry reads sector " << fault.step.lba;
  }
};
DV_FAULT_SWEEP(MbrRead);

// The command line's text report: enumeration, one S.M.A.R.T. read, the report on stdout.
struct CliTextReport {
  struct Outcome {
    int exitCode = 0;
    std::string report;  // without its first line, which holds the clock
    std::string errors;
  };
  static std::unique_ptr<SimulatedDriveSystem> Make() { return OneDrive(); }
  static Outcome Run(DriveSystem& system) {
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    outcome.exitCode = cli::RunCliOn(system, {"report", "1"}, out, err);
    const std::string text = out.str();
    const auto firstLineEnd = text.find('\n');
    outcome.report = firstLineEnd == std::string::npos ? text : text.substr(firstLineEnd + 1);
    outcome.errors = err.str();
    return outcome;
  }
  static void Check(const FaultCase& fault, const Outcome& clean, const Outcome& faulted) {
    ASSERT_EQ(clean.exitCode, cli::kExitOk);
    ASSERT_FALSE(clean.report.empty());
    // The clean run's first RETURN STATUS ends the enumeration and begins the read.
    static const int readStart = [] {
      auto system = Make();
      FaultyDriveSystem recorder(*system);
      Run(recorder);
      const auto& steps = recorder.Steps();
      for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].command == AtaCommand::SmartReturnStatus) return static_cast<int>(i) - 1;
      }
      return static_cast<int>(steps.size());
    }();
    const bool inEnumeration = fault.stepNumber < readStart;
    if (inEnumeration) {
      if (Is(fault, AtaCommand::SmartEnable) || Is(fault, AtaCommand::Identify)) {
        EXPECT_EQ(faulted.exitCode, cli::kExitFailure);
        EXPECT_NE(faulted.errors.find("S.M.A.R.T. HDD(s) not found!"), std::string::npos);
        EXPECT_TRUE(faulted.report.empty());
      } else {
        EXPECT_EQ(faulted.exitCode, cli::kExitOk);
        EXPECT_EQ(faulted.report, clean.report);
      }
      return;
    }
    // A failed verdict still reports the attributes; a failed sector read reports nothing.
    const bool sectorsRead =
        Is(fault, AtaCommand::SmartReturnStatus) && fault.kind != FaultKind::OpenFails;
    if (sectorsRead) {
      EXPECT_EQ(faulted.exitCode, cli::kExitOk);
      EXPECT_EQ(faulted.report, clean.report);
    } else {
      EXPECT_EQ(faulted.exitCode, cli::kExitUnhealthy);
      EXPECT_TRUE(faulted.report.empty());
      EXPECT_NE(faulted.errors.find("could not be read"), std::string::npos);
    }
  }
};
DV_FAULT_SWEEP(CliTextReport);

}  // namespace
}  // namespace dv
