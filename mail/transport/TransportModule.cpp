// The entry point of the TLS transport module, loaded by transport/LoadedTransport.cpp. The
// caller owns the transport it gets; both sides share the C++ runtime.
#include "mail/transport/AsioTlsTransport.h"
#include "mail/transport/TransportModuleEntry.h"

extern "C" __attribute__((visibility("default"))) dv::SmtpTransport* DiskvigilNewSmtpTransport() {
  try {
    return dv::NewAsioTlsTransport().release();
  } catch (...) {
    return nullptr;
  }
}
