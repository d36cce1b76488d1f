// Temperatures derived from the S.M.A.R.T. attribute sector: attribute 194 ("Temperature") and
// attribute 190 ("Airflow Temperature").
#pragma once

#include <cstdint>
#include <span>

namespace dv {

inline constexpr uint8_t kAttributeAirflowTemperature = 190;
inline constexpr uint8_t kAttributeTemperature = 194;

// Degrees Celsius; 0 means none.
struct Temperatures {
  uint8_t Current = 0;
  uint8_t Low = 0;
  uint8_t High = 0;
  uint8_t Airflow = 0;

  bool operator==(const Temperatures&) const = default;
};

// Current comes from 194's raw byte 0 when the drive keeps 194, else from 190's raw byte 0, for
// every drive whatever its maker: many SSDs report their temperature in 190 alone, and taking 194
// only would show them at 0 degrees. Low, High and Airflow come from 190.
Temperatures GetTemperatures(std::span<const uint8_t> smartData);

}  // namespace dv
