#include "mail/transport/AsioTlsTransport.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <asio/ssl.hpp>

#include "mail/transport/AsioSocketTransport.h"

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

class AsioTlsTransport final : public AsioSocketTransport {
 public:
  AsioTlsTransport() : tls_(MakeTlsContext()), stream_(io_, tls_) {}
  ~AsioTlsTransport() override { Close(); }

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

  bool Secure() const override { return secure_; }

  void Write(std::string_view bytes, milliseconds limit) override {
    if (secure_) {
      WriteThrough(stream_, bytes, limit);
    } else {
      AsioSocketTransport::Write(bytes, limit);
    }
  }

  std::size_t ReadSome(char* buffer, std::size_t size, milliseconds limit,
                       const std::string& what) override {
    return secure_ ? ReadThrough(stream_, buffer, size, limit, what)
                   : AsioSocketTransport::ReadSome(buffer, size, limit, what);
  }

 private:
  asio::ip::tcp::socket& Socket() override { return stream_.next_layer(); }
  const asio::ip::tcp::socket& Socket() const override { return stream_.next_layer(); }

  std::string Describe(const asio::error_code& error) const override {
    if (error == asio::ssl::error::stream_truncated) return "the server closed the connection";
    return AsioSocketTransport::Describe(error);
  }

  asio::ssl::context tls_;
  asio::ssl::stream<asio::ip::tcp::socket> stream_;
  bool secure_ = false;
};

}  // namespace

std::unique_ptr<SmtpTransport> NewAsioTlsTransport() {
  return std::make_unique<AsioTlsTransport>();
}

}  // namespace dv
