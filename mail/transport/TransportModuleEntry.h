// What the program and the TLS transport module agree on: the module's file name and its one
// entry point, which returns a new transport (or null) that the caller owns.
//
// The two sides need not share a C++ runtime (diskvigil-cli carries its own, linked in, while the
// module uses the shared one), and an exception thrown by one runtime cannot be caught by the
// other. So nothing thrown crosses: the module's transport catches every failure and hands it
// back, and the program's side throws it again as SmtpFailure (transport/LoadedTransport.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mail/SmtpTransport.h"

namespace dv {

inline constexpr char kTransportModuleFile[] = "diskvigil-smtp-tls.so";
inline constexpr char kTransportEntryName[] = "DiskvigilNewSmtpTransport";

// A failure inside the module: SmtpFailure's text and code.
struct ModuleFailure {
  std::string what;
  int code = 0;
};

// SmtpTransport's calls, each returning false with `failure` set where SmtpTransport throws.
class ModuleTransport {
 public:
  virtual ~ModuleTransport() = default;
  virtual bool Connect(const std::string& host, uint16_t port, std::chrono::milliseconds limit,
                       ModuleFailure& failure) noexcept = 0;
  virtual bool StartTls(const std::string& host, std::chrono::milliseconds limit,
                        ModuleFailure& failure) noexcept = 0;
  virtual bool Open() const noexcept = 0;
  virtual bool Secure() const noexcept = 0;
  virtual bool Write(std::string_view bytes, std::chrono::milliseconds limit,
                     ModuleFailure& failure) noexcept = 0;
  virtual bool ReadSome(char* buffer, std::size_t size, std::chrono::milliseconds limit,
                        const std::string& what, std::size_t& got,
                        ModuleFailure& failure) noexcept = 0;
  virtual void Close() noexcept = 0;
};

using TransportEntry = ModuleTransport* (*)();

}  // namespace dv

extern "C" dv::ModuleTransport* DiskvigilNewSmtpTransport();
