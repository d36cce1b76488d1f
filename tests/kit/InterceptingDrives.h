// Test double: a drive system in front of the simulated drives that records every request and
// can make one chosen open or one chosen exchange fail (the platform call, or ERR from the drive).
#pragma once

#include <memory>
#include <vector>

#include "core/Ioctl.h"
#include "core/SimulatedDrives.h"

namespace dv::test {

class InterceptingDriveSystem : public DriveSystem {
 public:
  explicit InterceptingDriveSystem(SimulatedDriveSystem& inner) : inner_(inner) {}

  enum class Fault { None, Open, Call, ErrBit };
  // Fault at the n-th open (Fault::Open) or the n-th exchange (Call, ErrBit); 1-based.
  void FailAt(Fault fault, int n) {
    fault_ = fault;
    failAt_ = n;
  }

  DriveHandlePtr Open(int driveNumber) override {
    ++opens_;
    if (fault_ == Fault::Open && opens_ == failAt_) return nullptr;
    auto handle = inner_.Open(driveNumber);
    if (!handle) return nullptr;
    return std::make_unique<Handle>(*this, std::move(handle));
  }
  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    return inner_.VolumeName(driveNumber, partition);
  }
  std::string DescribeDrive(int driveNumber) const override {
    return inner_.DescribeDrive(driveNumber);
  }

  std::vector<AtaRequestHeader> requests;  // every request, as sent
  int Opens() const { return opens_; }
  int Calls() const { return calls_; }

 private:
  class Handle : public DriveHandle {
   public:
    Handle(InterceptingDriveSystem& owner, DriveHandlePtr inner)
        : owner_(owner), inner_(std::move(inner)) {}
    bool PassThrough(std::span<uint8_t> request) override {
      const int call = ++owner_.calls_;
      owner_.requests.push_back(*ReadAtaRequestHeader(request));
      const bool hit = call == owner_.failAt_;
      if (hit && owner_.fault_ == Fault::Call) return false;
      const bool ok = inner_->PassThrough(request);
      if (hit && owner_.fault_ == Fault::ErrBit) request[kOffsetCurrentTaskFile + 6] |= kStatusErr;
      return ok;
    }

   private:
    InterceptingDriveSystem& owner_;
    DriveHandlePtr inner_;
  };

  SimulatedDriveSystem& inner_;
  Fault fault_ = Fault::None;
  int failAt_ = 0;
  int opens_ = 0;
  int calls_ = 0;
};

}  // namespace dv::test
