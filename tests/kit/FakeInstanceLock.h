// An instance lock that is held or not as the test says.
#pragma once

#include "app/SingleInstance.h"

namespace dv {

class FakeInstanceLock : public InstanceLock {
 public:
  explicit FakeInstanceLock(bool acquired) : acquired_(acquired) {}
  bool Acquired() const override { return acquired_; }

 private:
  bool acquired_;
};

}  // namespace dv
