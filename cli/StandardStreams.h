// What main needs of the standard streams, per platform.
#pragma once

namespace dv::cli {

// Standard output and error pass bytes through unchanged: the reports already carry their CR LF,
// and a C runtime that turns "\n" into "\r\n" would double them and make the output differ from
// system to system.
void UseBinaryStandardStreams();

// Standard output is shown on a terminal (console).
bool StandardOutputIsTerminal();

}  // namespace dv::cli
