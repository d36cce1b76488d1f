// The TLS transport linked into the program (diskvigil-cli, the tests).
#include "mail/transport/AsioTlsTransport.h"

namespace dv {

std::unique_ptr<SmtpTransport> MakeSmtpTransport() { return NewAsioTlsTransport(); }

}  // namespace dv
