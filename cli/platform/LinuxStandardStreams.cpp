#include <unistd.h>

#include "cli/StandardStreams.h"

namespace dv::cli {

void UseBinaryStandardStreams() {}  // POSIX streams never translate line ends

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace dv::cli
