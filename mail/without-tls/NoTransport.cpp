// Where no TLS library is available to build against (the MinGW cross build): the mails are
// still composed as everywhere, but every attempt to connect ends in one clear failure.
#include "mail/transport/UnavailableTransport.h"

namespace dv {

std::unique_ptr<SmtpTransport> MakeSmtpTransport() {
  return NewUnavailableTransport("mail delivery is not built into this program (no TLS library)");
}

}  // namespace dv
