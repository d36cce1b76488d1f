// The colours of a drive's health, as 0x00BBGGRR: the frames of the temperature icons and the
// marks of the S.M.A.R.T. window's rows that caused a caution.
#pragma once

#include <cstdint>

#include "core/Health.h"

namespace dv {

// Green for Passed, yellow for Caution, red for Failed, blue for S.M.A.R.T. off. Unknown is red,
// as a drive's icon is before its first verdict.
uint32_t HealthColor(Health health);

}  // namespace dv
