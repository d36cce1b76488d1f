#include "mail/transport/AsioTlsTransport.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <asio.hpp>
#include <asio/ssl.hpp>

namespace dv {
namespace {

using std::chrono::milliseconds;

asio::ssl::context MakeTlsContext() {
  asio::ssl::context context(asio::ssl::context::tls_client);
  SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
  // The system's trust store; SSL_CERT_FILE and SSL_CERT_DIR point elsewhere as usual.
  context.set_default_verify_paths();
  context.set_verify_mode(asio::ssl::verify_peer);
  return context;
}

std::string Describe(const asio::error_code& error) {
  if (error == asio::error::eof || error == asio::error::connection_reset ||
      error == asio::ssl::error::stream_truncated) {
    return "the server closed the connection";
  }
  if (error == asio::error::connection_refused) return "connection refused";
  return error.message();
}

class AsioTlsTransport final : public SmtpTransport {
 public:
  AsioTlsTransport() : tls_(MakeTlsContext()), stream_(io_, tls_) {}
  ~AsioTlsTransport() override { Close(); }

  void Connect(const std::string& host, uint16_t port, milliseconds limit) override {
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
    asio::async_connect(stream_.lowest_layer(), endpoints,
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

  void StartTls(const std::string& host, milliseconds limit) override {
    SSL* ssl = stream_.native_handle();
    asio::error_code notAddress;
    asio::ip::make_address(host, notAddress);
    if (notAddress) {
      SSL_set_tlsext_host_name(ssl, host.c_str());
      SSL_set1_host(ssl, host.c_str());
    } else {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    }
    asio::error_code error;
    bool done = false;
    io_.restart();
    stream_.async_handshake(asio::ssl::stream_base::client, [&](const asio::error_code& e) {
      error = e;
      done = true;
    });
    Await(done, limit, "TLS handshake timed out");
    if (error) {
      const long verify = SSL_get_verify_result(ssl);
      if (verify != X509_V_OK) {
        throw SmtpFailure(std::string("certificate verify failed: ") +
                          X509_verify_cert_error_string(verify));
      }
      throw SmtpFailure("TLS handshake failed: " + error.message());
    }
    secure_ = true;
  }

  bool Open() const override { return stream_.lowest_layer().is_open(); }
  bool Secure() const override { return secure_; }

  void Write(std::string_view bytes, milliseconds limit) override {
    if (!Open()) throw SmtpFailure("not connected");
    asio::error_code error;
    bool done = false;
    const auto handler = [&](const asio::error_code& e, std::size_t) {
      error = e;
      done = true;
    };
    io_.restart();
    if (secure_) {
      asio::async_write(stream_, asio::buffer(bytes), handler);
    } else {
      asio::async_write(stream_.next_layer(), asio::buffer(bytes), handler);
    }
    Await(done, limit, "sending timed out");
    if (error) {
      Close();
      throw SmtpFailure(Describe(error));
    }
  }

  std::size_t ReadSome(char* buffer, std::size_t size, milliseconds limit,
                       const std::string& what) override {
    if (!Open()) throw SmtpFailure(what + ": not connected");
    asio::error_code error;
    std::size_t received = 0;
    bool done = false;
    const auto handler = [&](const asio::error_code& e, std::size_t n) {
      error = e;
      received = n;
      done = true;
    };
    io_.restart();
    if (secure_) {
      stream_.async_read_some(asio::buffer(buffer, size), handler);
    } else {
      stream_.next_layer().async_read_some(asio::buffer(buffer, size), handler);
    }
    Await(done, std::max(limit, milliseconds(1)), what + kNoReplyInTime);
    if (error && received == 0) {
      Close();
      throw SmtpFailure(what + ": " + Describe(error));
    }
    return received;
  }

  void Close() noexcept override {
    asio::error_code ignored;
    stream_.lowest_layer().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    stream_.lowest_layer().close(ignored);
  }

 private:
  // Runs the started operation until `done` or until `limit`. On expiry the socket is closed, the
  // aborted handlers are run to their end, and `what` is thrown.
  void Await(const bool& done, milliseconds limit, const std::string& what) {
    if (limit > milliseconds::zero()) io_.run_for(limit);
    if (done) return;
    Close();
    io_.restart();
    io_.run();
    throw SmtpFailure(what);
  }

  asio::io_context io_;
  asio::ssl::context tls_;
  asio::ssl::stream<asio::ip::tcp::socket> stream_;
  bool secure_ = false;
};

}  // namespace

std::unique_ptr<SmtpTransport> NewAsioTlsTransport() {
  return std::make_unique<AsioTlsTransport>();
}

}  // namespace dv
