// Test double for the fault sweep: a drive system in front of the simulated drives that records
// every open and every exchange of a run and can make exactly one of them fail, in one of the ways
// a back end reports trouble. A clean run's record is the list of places a later run can fail at.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/AtaLayout.h"
#include "core/Ioctl.h"
#include "core/SatCdb.h"
#include "core/SimulatedDrives.h"

namespace dv::test {

enum class FaultKind {
  OpenFails,  // the drive cannot be opened
  CallFails,  // the pass-through request itself fails
  ErrSet,     // the drive answers with ERR and ABRT
  BusyDrq,    // the answer's status still has BSY and DRQ set
  ShortData,  // a sector read moves fewer than 512 bytes
};

inline const char* FaultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::OpenFails:
      return "OpenFails";
    case FaultKind::CallFails:
      return "CallFails";
    case FaultKind::ErrSet:
      return "ErrSet";
    case FaultKind::BusyDrq:
      return "BusyDrq";
    case FaultKind::ShortData:
      return "ShortData";
  }
  return "?";
}

// One step of a run: an open of a drive, or one exchange with the command it carried.
struct SweepStep {
  bool open = false;
  int driveNumber = 0;
  // The command carried (nullopt when outside the catalogue). An open carries the command, sector
  // and direction of the exchange the clean run made on it, when it made one.
  std::optional<AtaCommand> command;
  uint64_t lba = 0;  // sector reads: the address asked for
  bool dataIn = false;
};

// Where a run is made to fail: the `index`-th open (OpenFails) or exchange (the other kinds),
// 1-based.
struct FaultCase {
  FaultKind kind = FaultKind::CallFails;
  int index = 0;
  int stepNumber = 0;  // 0-based place among all the clean run's steps
  SweepStep step;      // what the clean run did there

  std::string Name() const {
    std::string name = std::string(step.open ? "Open" : "Exchange") + std::to_string(index) + "_";
    name += step.open ? "Drive" + std::to_string(step.driveNumber)
                      : std::string(step.command ? AtaCommandName(*step.command) : "Unknown");
    return name + "_" + FaultKindName(kind);
  }
};

inline void PrintTo(const FaultCase& fault, std::ostream* os) { *os << fault.Name(); }

class FaultyDriveSystem : public DriveSystem {
 public:
  explicit FaultyDriveSystem(SimulatedDriveSystem& inner, std::optional<FaultCase> fault = {})
      : inner_(inner), fault_(std::move(fault)) {}

  DriveHandlePtr Open(int driveNumber) override {
    const int index = static_cast<int>(opens_.size()) + 1;
    opens_.push_back(driveNumber);
    steps_.push_back(SweepStep{true, driveNumber, std::nullopt, 0, false});
    if (fault_ && fault_->kind == FaultKind::OpenFails && fault_->index == index) {
      faultHit_ = true;
      return nullptr;
    }
    auto handle = inner_.Open(driveNumber);
    if (!handle) return nullptr;
    ++liveHandles_;
    return std::make_unique<Handle>(*this, std::move(handle), driveNumber);
  }
  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    return inner_.VolumeName(driveNumber, partition);
  }
  std::string DescribeDrive(int driveNumber) const override {
    return inner_.DescribeDrive(driveNumber);
  }

  const std::vector<SweepStep>& Steps() const { return steps_; }
  int LiveHandles() const { return liveHandles_; }
  int OutsideCatalogue() const { return outsideCatalogue_; }
  bool FaultHit() const { return faultHit_; }

 private:
  class Handle : public DriveHandle {
   public:
    Handle(FaultyDriveSystem& owner, DriveHandlePtr inner, int driveNumber)
        : owner_(owner), inner_(std::move(inner)), driveNumber_(driveNumber) {}
    ~Handle() override { --owner_.liveHandles_; }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool PassThrough(std::span<uint8_t> request) override {
      return owner_.Exchange(*inner_, driveNumber_, request);
    }

   private:
    FaultyDriveSystem& owner_;
    DriveHandlePtr inner_;
    int driveNumber_;
  };

  bool Exchange(DriveHandle& inner, int driveNumber, std::span<uint8_t> request) {
    ++exchanges_;
    SweepStep step;
    step.driveNumber = driveNumber;
    const auto header = ReadAtaRequestHeader(request);
    if (header) {
      step.command = ClassifyAtaCommand(header->ataFlags, header->current, header->previous,
                                        header->dataTransferLength);
      step.dataIn = header->dataTransferLength == kSectorSize;
      step.lba = uint64_t{header->current.lbaLow} | uint64_t{header->current.lbaMid} << 8 |
                 uint64_t{header->current.lbaHigh} << 16;
      if ((header->ataFlags & kAtaFlags48BitCommand) != 0) {
        step.lba |= uint64_t{header->previous.lbaLow} << 24 |
                    uint64_t{header->previous.lbaMid} << 32 |
                    uint64_t{header->previous.lbaHigh} << 40;
      } else {
        step.lba |= uint64_t{header->current.device & 0x0Fu} << 24;
      }
    }
    steps_.push_back(step);
    if (!step.command) {
      ++outsideCatalogue_;
      return false;
    }
    const bool hit = fault_ && fault_->kind != FaultKind::OpenFails && fault_->index == exchanges_;
    if (!hit) return inner.PassThrough(request);
    faultHit_ = true;

    switch (fault_->kind) {
      case FaultKind::CallFails:
        return false;
      case FaultKind::ErrSet: {
        const bool ok = inner.PassThrough(request);
        request[kOffsetCurrentTaskFile] = kErrorAbort;  // in the Error register
        request[kOffsetCurrentTaskFile + 6] |= kStatusErr;
        return ok;
      }
      case FaultKind::BusyDrq:
      case FaultKind::ShortData:
        return AsLinuxReports(inner, request);
      case FaultKind::OpenFails:
        break;
    }
    return false;
  }

  // The Linux back end's view of the two faults that only its translation layer can see: the reply
  // is judged by the same rules the back end uses, and what they decide is what the caller gets.
  bool AsLinuxReports(DriveHandle& inner, std::span<uint8_t> request) {
    const auto command = BuildSatCommand(request);
    if (!command) return false;
    inner.PassThrough(request);
    const auto header = *ReadAtaRequestHeader(request);
    SgIoReply reply;
    reply.ioctlSucceeded = true;
    std::array<uint8_t, 22> sense{};
    if (fault_->kind == FaultKind::BusyDrq) {
      // CHECK CONDITION, descriptor sense with an ATA status return: BSY, DRDY, DSC and DRQ.
      reply.scsiStatus = kScsiStatusCheckCondition;
      sense = {0x72,
               0x0B,
               0x00,
               0x00,
               0,
               0,
               0,
               14,
               0x09,
               0x0C,
               0x00,
               0x00,
               0,
               0,
               0,
               header.current.lbaLow,
               0,
               header.current.lbaMid,
               0,
               header.current.lbaHigh,
               header.current.device,
               kStatusBusy | kStatusReady | kStatusDataRequest};
      reply.sense = sense;
    } else {
      // GOOD status, but the transfer stopped after 100 bytes; the rest of the buffer is stale.
      constexpr size_t kMoved = 100;
      reply.scsiStatus = kScsiStatusGood;
      reply.residue = static_cast<int>(kSectorSize - kMoved);
      if (request.size() > kRequestHeaderSize + kMoved) {
        std::fill(request.begin() + static_cast<std::ptrdiff_t>(kRequestHeaderSize + kMoved),
                  request.end(), uint8_t{0xA5});
      }
    }
    const SatOutcome outcome = ReadSatReply(*command, reply);
    WriteReturnedRegisters(request, outcome.current, outcome.previous);
    return outcome.callSucceeded;
  }

  SimulatedDriveSystem& inner_;
  std::optional<FaultCase> fault_;
  std::vector<int> opens_;
  std::vector<SweepStep> steps_;
  int exchanges_ = 0;
  int liveHandles_ = 0;
  int outsideCatalogue_ = 0;
  bool faultHit_ = false;
};

// Every place and every way a run of `flow` can fail, found by running it once without faults.
// Short data only applies to the exchanges that read a sector.
inline std::vector<FaultCase> SweepCases(
    const std::function<std::unique_ptr<SimulatedDriveSystem>()>& make,
    const std::function<void(DriveSystem&)>& flow) {
  auto simulated = make();
  FaultyDriveSystem recorder(*simulated);
  flow(recorder);
  std::vector<FaultCase> cases;
  int opens = 0;
  int exchanges = 0;
  const auto& steps = recorder.Steps();
  for (size_t i = 0; i < steps.size(); ++i) {
    SweepStep step = steps[i];
    const int number = static_cast<int>(i);
    if (step.open) {
      if (i + 1 < steps.size() && !steps[i + 1].open &&
          steps[i + 1].driveNumber == step.driveNumber) {
        step.command = steps[i + 1].command;
        step.lba = steps[i + 1].lba;
        step.dataIn = steps[i + 1].dataIn;
      }
      cases.push_back({FaultKind::OpenFails, ++opens, number, step});
      continue;
    }
    ++exchanges;
    for (FaultKind kind : {FaultKind::CallFails, FaultKind::ErrSet, FaultKind::BusyDrq}) {
      cases.push_back({kind, exchanges, number, step});
    }
    if (step.dataIn) cases.push_back({FaultKind::ShortData, exchanges, number, step});
  }
  return cases;
}

inline std::string FaultCaseName(const ::testing::TestParamInfo<FaultCase>& info) {
  return info.param.Name();
}

// What every faulted run must leave behind, whatever the flow: the fault was reached, every handle
// is closed, and nothing outside the catalogue went out.
inline void ExpectCleanAftermath(const FaultyDriveSystem& faulty,
                                 const SimulatedDriveSystem& simulated) {
  EXPECT_TRUE(faulty.FaultHit());
  EXPECT_EQ(faulty.LiveHandles(), 0);
  EXPECT_EQ(simulated.OpenHandleCount(), 0);
  EXPECT_EQ(faulty.OutsideCatalogue(), 0);
  for (const auto& logged : simulated.CommandLog()) {
    EXPECT_FALSE(logged.refused) << "refused " << logged.name << " on drive " << logged.driveNumber;
  }
}

}  // namespace dv::test
