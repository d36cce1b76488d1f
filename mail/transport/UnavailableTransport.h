// A transport that cannot connect, for a program without TLS: every attempt ends in `reason`,
// which the senders report like any other failure ("Report sending failed: ...").
#pragma once

#include <memory>
#include <string>

#include "mail/SmtpTransport.h"

namespace dv {

std::unique_ptr<SmtpTransport> NewUnavailableTransport(std::string reason);

}  // namespace dv
