#include "core/Temperatures.h"

#include "core/SmartData.h"

namespace dv {

Temperatures GetTemperatures(std::span<const uint8_t> smartData) {
  const SMARTAttribute temperature = FindSMARTAttribute(smartData, kAttributeTemperature);
  const SMARTAttribute airflow = FindSMARTAttribute(smartData, kAttributeAirflowTemperature);

  Temperatures result;
  // Raw bytes of 190: 0 current airflow temperature, 2 lowest, 3 and 4 highest (4 when set).
  result.Airflow = airflow.RawBytes[0];
  result.Low = airflow.RawBytes[2];
  result.High = airflow.RawBytes[4] != 0 ? airflow.RawBytes[4] : airflow.RawBytes[3];
  result.Current = temperature.IsPresent() ? temperature.RawBytes[0] : airflow.RawBytes[0];
  return result;
}

}  // namespace dv
