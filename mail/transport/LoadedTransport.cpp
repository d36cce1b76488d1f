#include "mail/transport/LoadedTransport.h"

#include <dlfcn.h>

#include <mutex>
#include <string>
#include <system_error>

#include "core/FileTrust.h"
#include "core/RunningProgram.h"
#include "mail/transport/TransportModuleEntry.h"
#include "mail/transport/UnavailableTransport.h"

namespace dv {

namespace fs = std::filesystem;

std::vector<fs::path> TransportModuleCandidates(const fs::path& program) {
  std::vector<fs::path> candidates;
  if (!program.empty()) {
    const fs::path folder = program.parent_path();
    candidates.push_back(
        (folder / DISKVIGIL_TRANSPORT_RELATIVE_DIR / kTransportModuleFile).lexically_normal());
    candidates.push_back(folder / kTransportModuleFile);
  }
  candidates.push_back(fs::path(DISKVIGIL_TRANSPORT_INSTALLED_DIR) / kTransportModuleFile);
  candidates.push_back(fs::path(DISKVIGIL_TRANSPORT_BUILD_DIR) / kTransportModuleFile);
  return candidates;
}

namespace {

// The entry point once a module has loaded; until then each send tries again, so that a module
// installed while the program runs is used.
struct LoadedModule {
  std::mutex lock;
  TransportEntry entry = nullptr;
};

LoadedModule& Module() {
  static LoadedModule module;
  return module;
}

// Throws, on this side, what the module handed back.
class ModuleBackedTransport : public SmtpTransport {
 public:
  explicit ModuleBackedTransport(ModuleTransport* inner) : inner_(inner) {}

  void Connect(const std::string& host, uint16_t port, std::chrono::milliseconds limit) override {
    ModuleFailure failure;
    if (!inner_->Connect(host, port, limit, failure)) Throw(failure);
  }
  void StartTls(const std::string& host, std::chrono::milliseconds limit) override {
    ModuleFailure failure;
    if (!inner_->StartTls(host, limit, failure)) Throw(failure);
  }
  bool Open() const override { return inner_->Open(); }
  bool Secure() const override { return inner_->Secure(); }
  void Write(std::string_view bytes, std::chrono::milliseconds limit) override {
    ModuleFailure failure;
    if (!inner_->Write(bytes, limit, failure)) Throw(failure);
  }
  std::size_t ReadSome(char* buffer, std::size_t size, std::chrono::milliseconds limit,
                       const std::string& what) override {
    ModuleFailure failure;
    std::size_t got = 0;
    if (!inner_->ReadSome(buffer, size, limit, what, got, failure)) Throw(failure);
    return got;
  }
  void Close() noexcept override { inner_->Close(); }

 private:
  [[noreturn]] static void Throw(const ModuleFailure& failure) {
    throw SmtpFailure(failure.what, failure.code);
  }

  std::unique_ptr<ModuleTransport> inner_;
};

}  // namespace

std::unique_ptr<SmtpTransport> WrapModuleTransport(ModuleTransport* made) {
  if (made == nullptr) return nullptr;
  return std::make_unique<ModuleBackedTransport>(made);
}

TransportEntry LoadTransportEntry(const std::vector<fs::path>& candidates, std::string& reason) {
  reason = std::string("the mail module ") + kTransportModuleFile + " was not found";
  for (const fs::path& candidate : candidates) {
    std::error_code error;
    if (!fs::is_regular_file(candidate, error)) continue;
    if (const std::string why = UntrustedFileReason(candidate); !why.empty()) {
      reason = "the mail module is not loaded: " + why;
      continue;
    }
    // Never closed: transports made by it may live until the program ends.
    void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      reason = "the mail module " + candidate.string() +
               " cannot be loaded: " + (why != nullptr ? why : "unknown error");
      continue;
    }
    if (void* symbol = dlsym(handle, kTransportEntryName)) {
      return reinterpret_cast<TransportEntry>(symbol);
    }
    reason = "the mail module " + candidate.string() + " has no entry point";
    dlclose(handle);
  }
  return nullptr;
}

std::unique_ptr<SmtpTransport> MakeSmtpTransport() {
  LoadedModule& module = Module();
  std::string reason;
  {
    const std::lock_guard<std::mutex> hold(module.lock);
    if (module.entry == nullptr) {
      module.entry = LoadTransportEntry(TransportModuleCandidates(RunningProgramFile()), reason);
    }
  }
  if (module.entry == nullptr) return NewUnavailableTransport(reason);
  if (auto made = WrapModuleTransport(module.entry())) return made;
  return NewUnavailableTransport("the mail module could not set up a connection");
}

}  // namespace dv
