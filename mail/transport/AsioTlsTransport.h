// The transport on Asio and OpenSSL.
#pragma once

#include <memory>

#include "mail/SmtpTransport.h"

namespace dv {

std::unique_ptr<SmtpTransport> NewAsioTlsTransport();

}  // namespace dv
