// Where no TLS library is available to build against (the MinGW cross build): mail goes out over
// plain SMTP; a server that needs STARTTLS or TLS gets one clear failure instead.
#include "mail/transport/AsioSocketTransport.h"

namespace dv {

std::unique_ptr<SmtpTransport> MakeSmtpTransport() {
  return NewAsioPlainTransport(
      "STARTTLS and TLS are not built into this program (no TLS library); only plain SMTP works");
}

}  // namespace dv
