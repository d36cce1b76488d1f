// The TLS transport from its module, loaded on the first send and kept for the life of the
// process (the transports it makes run its code).
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mail/transport/TransportModuleEntry.h"

namespace dv {

// Where the module may be, in the order tried, for the program file `program` (empty when
// unknown): the library folder of an installed tree relative to the program, so that a tree
// unpacked or copied elsewhere works; beside the program, for a bundle in one folder; the
// installed library folder; the build tree.
std::vector<std::filesystem::path> TransportModuleCandidates(const std::filesystem::path& program);

// The entry point of the first of `candidates` that exists and loads; null, with `reason` for the
// user, when none does. A loaded module stays loaded.
TransportEntry LoadTransportEntry(const std::vector<std::filesystem::path>& candidates,
                                  std::string& reason);

// The module's transport as an SmtpTransport: its failures are thrown here as SmtpFailure.
std::unique_ptr<SmtpTransport> WrapModuleTransport(ModuleTransport* made);

}  // namespace dv
