// The byte stream under the SMTP client: a TCP connection that can turn into TLS. The TLS library
// is large and mail is rare, so the program may take its transport from a module loaded on the
// first send (transport/LoadedTransport.cpp) while diskvigil-cli and the tests link it in
// (transport/LinkedTransport.cpp). Each program links exactly one MakeSmtpTransport.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dv {

// What went wrong. `code` is the server's reply code for a refused command, else 0.
class SmtpFailure : public std::runtime_error {
 public:
  explicit SmtpFailure(const std::string& what, int code = 0)
      : std::runtime_error(what), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// The end of the failure text for a wait that ran out of time: "<what>: no reply in time".
inline constexpr const char* kNoReplyInTime = ": no reply in time";

// Every call that can fail throws SmtpFailure with a text for the user; a failed write or read
// closes the connection first.
class SmtpTransport {
 public:
  virtual ~SmtpTransport() = default;

  // Resolves `host` and connects within `limit`.
  virtual void Connect(const std::string& host, uint16_t port, std::chrono::milliseconds limit) = 0;
  // The TLS handshake within `limit`, the certificate checked against the system's trust store
  // and `host` (a name or an address). From then on everything goes through TLS.
  virtual void StartTls(const std::string& host, std::chrono::milliseconds limit) = 0;
  virtual bool Open() const = 0;
  virtual bool Secure() const = 0;

  // All of `bytes` within `limit`; "sending timed out" when it runs out.
  virtual void Write(std::string_view bytes, std::chrono::milliseconds limit) = 0;
  // What arrives first, at most `size` bytes, within `limit`. `what` names the wait in failures
  // ("<what>: no reply in time", "<what>: the server closed the connection").
  virtual std::size_t ReadSome(char* buffer, std::size_t size, std::chrono::milliseconds limit,
                               const std::string& what) = 0;
  virtual void Close() noexcept = 0;
};

// A new, unconnected transport. When the TLS module cannot be loaded, one whose Connect fails
// with the reason.
std::unique_ptr<SmtpTransport> MakeSmtpTransport();

}  // namespace dv
