// A drive's health as the program judges it, and the verdict text the windows, the report mail
// and the command line show for it. Every place that says "O.K." or "ERROR" about a drive asks
// here, so they all follow one rule for a drive that has given no verdict yet.
#pragma once

#include <string_view>

namespace dv {

struct Drive;
struct ReadSmartResult;

enum class Health {
  Passed,    // the drive's own verdict is good
  Caution,   // the verdict is good, but a counter that predicts failure rose
  Failed,    // the drive's own verdict is bad
  SmartOff,  // S.M.A.R.T. is off: there is no verdict to ask for
  Unknown,   // no verdict yet: RETURN STATUS (or the health log) was not answered
};

inline constexpr std::string_view kVerdictOkText = "O.K.";
inline constexpr std::string_view kVerdictErrorText = "ERROR";
// Where there is no verdict to show.
inline constexpr std::string_view kNoVerdictText = "...";

// The health one read found out.
Health HealthOf(const Drive& drive, const ReadSmartResult& result);
// The health from the last verdict the drive record keeps (SMARTStatusOK).
Health StoredHealth(const Drive& drive);
// A good verdict with counter rises standing becomes Caution; other values stay.
Health WithCaution(Health health, bool countersRose);

// "O.K." for Passed and Caution (the drive itself says it is well), "ERROR" for Failed, "..." for
// S.M.A.R.T. off and no verdict.
std::string_view VerdictText(Health health);
// True for the health that has a verdict of the drive behind it (Passed, Caution, Failed).
bool HasVerdict(Health health);

}  // namespace dv
