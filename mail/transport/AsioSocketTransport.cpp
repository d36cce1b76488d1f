#include "mail/transport/AsioSocketTransport.h"

namespace dv {

using std::chrono::milliseconds;

void AsioSocketTransport::Connect(const std::string& host, uint16_t port, milliseconds limit) {
  const std::string where = " (" + host + ":" + std::to_string(port) + ")";
  asio::error_code error;
  asio::ip::tcp::resolver::results_type endpoints;
  {
    asio::ip::tcp::resolver resolver(io_);
    endpoints = resolver.resolve(host, std::to_string(port), error);
  }
  if (error) throw SmtpFailure("cannot find host \"" + host + "\": " + error.message());
  bool done = false;
  io_.restart();
  asio::async_connect(Socket(), endpoints,
                      [&](const asio::error_code& e, const asio::ip::tcp::endpoint&) {
                        error = e;
                        done = true;
                      });
  Await(done, limit, "connection timed out" + where);
  if (error) {
    Close();
    throw SmtpFailure(Describe(error) + where);
  }
}

void AsioSocketTransport::Write(std::string_view bytes, milliseconds limit) {
  WriteThrough(Socket(), bytes, limit);
}

std::size_t AsioSocketTransport::ReadSome(char* buffer, std::size_t size, milliseconds limit,
                                          const std::string& what) {
  return ReadThrough(Socket(), buffer, size, limit, what);
}

void AsioSocketTransport::Close() noexcept {
  asio::error_code ignored;
  Socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  Socket().close(ignored);
}

std::string AsioSocketTransport::Describe(const asio::error_code& error) const {
  if (error == asio::error::eof || error == asio::error::connection_reset) {
    return "the server closed the connection";
  }
  if (error == asio::error::connection_refused) return "connection refused";
  return error.message();
}

void AsioSocketTransport::Await(const bool& done, milliseconds limit, const std::string& what) {
  if (limit > milliseconds::zero()) io_.run_for(limit);
  if (done) return;
  Close();
  io_.restart();
  io_.run();
  throw SmtpFailure(what);
}

}  // namespace dv
