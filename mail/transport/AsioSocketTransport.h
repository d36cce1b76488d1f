// The TCP part of the SMTP transport on Asio: resolving and connecting, bounded writes and reads,
// closing. The TLS transports build on it: OpenSSL's (AsioTlsTransport.cpp) and, on Windows,
// SChannel's (SchannelTransport.cpp).
#pragma once

#include <asio.hpp>
#include <memory>
#include <string>

#include "mail/SmtpTransport.h"

namespace dv {

class AsioSocketTransport : public SmtpTransport {
 public:
  ~AsioSocketTransport() override = default;

  void Connect(const std::string& host, uint16_t port, std::chrono::milliseconds limit) override;
  bool Open() const override { return Socket().is_open(); }
  bool Secure() const override { return false; }
  void Write(std::string_view bytes, std::chrono::milliseconds limit) override;
  std::size_t ReadSome(char* buffer, std::size_t size, std::chrono::milliseconds limit,
                       const std::string& what) override;
  void Close() noexcept override;

 protected:
  virtual asio::ip::tcp::socket& Socket() = 0;
  virtual const asio::ip::tcp::socket& Socket() const = 0;
  // The user's words for a failed operation.
  virtual std::string Describe(const asio::error_code& error) const;

  // Runs the started operation until `done` or until `limit`. On expiry the socket is closed, the
  // aborted handlers are run to their end, and `what` is thrown.
  void Await(const bool& done, std::chrono::milliseconds limit, const std::string& what);

  // All of `bytes` through `stream` (the socket or a layer on it).
  template <typename Stream>
  void WriteThrough(Stream& stream, std::string_view bytes, std::chrono::milliseconds limit) {
    if (!Open()) throw SmtpFailure("not connected");
    asio::error_code error;
    bool done = false;
    io_.restart();
    asio::async_write(stream, asio::buffer(bytes), [&](const asio::error_code& e, std::size_t) {
      error = e;
      done = true;
    });
    Await(done, limit, "sending timed out");
    if (error) {
      Close();
      throw SmtpFailure(Describe(error));
    }
  }

  // What arrives first through `stream`, at most `size` bytes.
  template <typename Stream>
  std::size_t ReadThrough(Stream& stream, char* buffer, std::size_t size,
                          std::chrono::milliseconds limit, const std::string& what) {
    if (!Open()) throw SmtpFailure(what + ": not connected");
    asio::error_code error;
    std::size_t received = 0;
    bool done = false;
    io_.restart();
    stream.async_read_some(asio::buffer(buffer, size),
                           [&](const asio::error_code& e, std::size_t n) {
                             error = e;
                             received = n;
                             done = true;
                           });
    Await(done, std::max(limit, std::chrono::milliseconds(1)), what + kNoReplyInTime);
    if (error && received == 0) {
      Close();
      throw SmtpFailure(what + ": " + Describe(error));
    }
    return received;
  }

  asio::io_context io_;
};

}  // namespace dv
