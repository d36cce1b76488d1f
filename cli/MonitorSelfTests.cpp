#include "cli/MonitorSelfTests.h"

#include <ostream>

namespace dv::cli {

std::map<int, std::vector<std::string>> MonitorSelfTests::AfterPass(std::ostream& err,
                                                                    MetricsTextfile* textfile,
                                                                    bool warnings) {
  SelfTestLook look = watch_.Look(warnings);
  if (textfile && watch_.Days() > 0) {
    for (const SelfTestLook::Newest& newest : look.newest) {
      textfile->TakeSelfTest(newest.position, newest.code, newest.ageHours);
    }
  }
  if (look.scheduled) {
    err << "Drive " << look.scheduled->position << ": " << ScheduledSelfTestText(*look.scheduled)
        << "\n"
        << std::flush;
  }
  return std::move(look.warnings);
}

}  // namespace dv::cli
