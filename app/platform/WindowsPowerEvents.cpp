// Suspend and resume on Windows. WM_POWERBROADCAST goes to top-level windows only, and the main
// window has no native window while it is hidden (its usual state), so the source makes a hidden
// top-level window of its own at once and keeps it for its whole life. Message-only windows do not
// get broadcasts, hence an ordinary window that is never shown. Where the system offers it, the
// window is also registered for suspend and resume notifications; a repeated notice only stops or
// starts the timers again.
#include <windows.h>

#include "app/PowerEvents.h"

namespace dv {

namespace {

constexpr wchar_t kWindowClass[] = L"DiskvigilPowerWindow";

using RegisterFn = HANDLE(WINAPI*)(HANDLE, DWORD);
using UnregisterFn = BOOL(WINAPI*)(HANDLE);

// A function of a system library by name, typed; GetProcAddress hands out a generic pointer.
template <typename Fn>
Fn ProcAddress(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

class WindowsPowerEvents : public PowerEventSource {
 public:
  explicit WindowsPowerEvents(unsigned majorVersion) : majorVersion_(majorVersion) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &WindowsPowerEvents::WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassExW(&windowClass);  // fails harmlessly when a second source registers it again
    window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"Diskvigil power events", WS_POPUP,
                                0, 0, 0, 0, nullptr, nullptr, instance, this);
    if (window_ == nullptr) return;
    if (const HMODULE user32 = ::GetModuleHandleW(L"user32.dll")) {
      const auto registerFn = ProcAddress<RegisterFn>(user32, "RegisterSuspendResumeNotification");
      unregister_ = ProcAddress<UnregisterFn>(user32, "UnregisterSuspendResumeNotification");
      if (registerFn != nullptr && unregister_ != nullptr)
        notification_ = registerFn(window_, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
  }
  ~WindowsPowerEvents() override {
    if (notification_ != nullptr) unregister_(notification_);
    if (window_ != nullptr) {
      ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      ::DestroyWindow(window_);
    }
  }
  WindowsPowerEvents(const WindowsPowerEvents&) = delete;
  WindowsPowerEvents& operator=(const WindowsPowerEvents&) = delete;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (auto* self = reinterpret_cast<WindowsPowerEvents*>(
                   ::GetWindowLongPtrW(window, GWLP_USERDATA))) {
      HandlePowerMessage(*self, message, static_cast<uintptr_t>(wParam), self->majorVersion_);
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  unsigned majorVersion_;
  HWND window_ = nullptr;
  HANDLE notification_ = nullptr;
  UnregisterFn unregister_ = nullptr;
};

}  // namespace

std::unique_ptr<PowerEventSource> CreatePlatformPowerEventSource(unsigned majorVersion) {
  return std::make_unique<WindowsPowerEvents>(majorVersion);
}

}  // namespace dv
