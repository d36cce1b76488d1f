// What the program and the TLS transport module agree on: the module's file name and its one
// entry point, which returns a new transport (or null) that the caller owns.
#pragma once

#include "mail/SmtpTransport.h"

namespace dv {

inline constexpr char kTransportModuleFile[] = "diskvigil-smtp-tls.so";
inline constexpr char kTransportEntryName[] = "DiskvigilNewSmtpTransport";
using TransportEntry = SmtpTransport* (*)();

}  // namespace dv

extern "C" dv::SmtpTransport* DiskvigilNewSmtpTransport();
