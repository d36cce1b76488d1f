// The autorun entry on Windows: the value "Diskvigil" under the current user's
// Software\Microsoft\Windows\CurrentVersion\Run key, always opened with full access so a
// read-only key counts as unusable.
#include <windows.h>

#include <string>

#include "app/Autorun.h"

namespace dv {

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"Diskvigil";

std::wstring Widen(std::string_view text) {
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

class RegistryKey {
 public:
  explicit RegistryKey(bool create) {
    const LSTATUS status =
        create ? RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 &key_, nullptr)
               : RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &key_);
    if (status != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

class RegistryAutorunStore : public AutorunStore {
 public:
  std::optional<std::string> ReadCommand() const override {
    RegistryKey key(false);
    if (!key.Get()) return std::nullopt;
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.Get(), kValueName, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return std::nullopt;
    std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.Get(), kValueName, nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &bytes) != ERROR_SUCCESS)
      return std::nullopt;
    data.resize(wcsnlen(data.c_str(), data.size()));
    return Narrow(data);
  }

  bool WriteCommand(std::string_view command) override {
    RegistryKey key(true);
    if (!key.Get()) return false;
    const std::wstring data = Widen(command);
    return RegSetValueExW(key.Get(), kValueName, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

  bool Remove() override {
    RegistryKey key(false);
    if (!key.Get()) return false;
    const LSTATUS status = RegDeleteValueW(key.Get(), kValueName);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
  }
};

}  // namespace

std::unique_ptr<AutorunStore> CreatePlatformAutorunStore() {
  return std::make_unique<RegistryAutorunStore>();
}

}  // namespace dv
