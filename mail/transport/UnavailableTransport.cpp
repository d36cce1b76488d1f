#include "mail/transport/UnavailableTransport.h"

namespace dv {
namespace {

class UnavailableTransport final : public SmtpTransport {
 public:
  explicit UnavailableTransport(std::string reason) : reason_(std::move(reason)) {}

  void Connect(const std::string&, uint16_t, std::chrono::milliseconds) override {
    throw SmtpFailure(reason_);
  }
  void StartTls(const std::string&, std::chrono::milliseconds) override {
    throw SmtpFailure(reason_);
  }
  bool Open() const override { return false; }
  bool Secure() const override { return false; }
  void Write(std::string_view, std::chrono::milliseconds) override { throw SmtpFailure(reason_); }
  std::size_t ReadSome(char*, std::size_t, std::chrono::milliseconds, const std::string&) override {
    throw SmtpFailure(reason_);
  }
  void Close() noexcept override {}

 private:
  std::string reason_;
};

}  // namespace

std::unique_ptr<SmtpTransport> NewUnavailableTransport(std::string reason) {
  return std::make_unique<UnavailableTransport>(std::move(reason));
}

}  // namespace dv
