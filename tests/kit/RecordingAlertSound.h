// An alert sound that counts the calls.
#pragma once

#include "app/AlertSound.h"

namespace dv {

class RecordingAlertSound : public AlertSound {
 public:
  void Play() override { ++plays; }
  int plays = 0;
};

}  // namespace dv
