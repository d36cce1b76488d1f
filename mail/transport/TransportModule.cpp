// The entry point of the TLS transport module, loaded by transport/LoadedTransport.cpp: the TLS
// transport behind a wrapper that catches whatever it throws, so that no exception leaves the
// module (see TransportModuleEntry.h).
#include <exception>
#include <memory>

#include "mail/transport/AsioTlsTransport.h"
#include "mail/transport/TransportModuleEntry.h"

namespace dv {
namespace {

class CatchingTransport : public ModuleTransport {
 public:
  explicit CatchingTransport(std::unique_ptr<SmtpTransport> inner) : inner_(std::move(inner)) {}

  bool Connect(const std::string& host, uint16_t port, std::chrono::milliseconds limit,
               ModuleFailure& failure) noexcept override {
    return Catching(failure, [&] { inner_->Connect(host, port, limit); });
  }
  bool StartTls(const std::string& host, std::chrono::milliseconds limit,
                ModuleFailure& failure) noexcept override {
    return Catching(failure, [&] { inner_->StartTls(host, limit); });
  }
  bool Open() const noexcept override { return inner_->Open(); }
  bool Secure() const noexcept override { return inner_->Secure(); }
  bool Write(std::string_view bytes, std::chrono::milliseconds limit,
             ModuleFailure& failure) noexcept override {
    return Catching(failure, [&] { inner_->Write(bytes, limit); });
  }
  bool ReadSome(char* buffer, std::size_t size, std::chrono::milliseconds limit,
                const std::string& what, std::size_t& got,
                ModuleFailure& failure) noexcept override {
    return Catching(failure, [&] { got = inner_->ReadSome(buffer, size, limit, what); });
  }
  void Close() noexcept override { inner_->Close(); }

 private:
  template <typename Call>
  static bool Catching(ModuleFailure& failure, const Call& call) noexcept {
    try {
      call();
      return true;
    } catch (const SmtpFailure& thrown) {
      failure = {thrown.what(), thrown.Code()};
    } catch (const std::exception& thrown) {
      failure = {thrown.what(), 0};
    } catch (...) {
      failure = {"the mail module failed", 0};
    }
    return false;
  }

  std::unique_ptr<SmtpTransport> inner_;
};

}  // namespace
}  // namespace dv

extern "C" __attribute__((visibility("default"))) dv::ModuleTransport* DiskvigilNewSmtpTransport() {
  try {
    return new dv::CatchingTransport(dv::NewAsioTlsTransport());
  } catch (...) {
    return nullptr;
  }
}
