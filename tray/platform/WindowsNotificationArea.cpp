#include "tray/platform/WindowsNotificationArea.h"

#include <windows.h>
// windows.h first
#include <shellapi.h>

#include <QMenu>
#include <QPixmap>
#include <algorithm>
#include <iterator>
#include <vector>

namespace dv {

namespace {

constexpr wchar_t kWindowClass[] = L"DiskvigilTrayIconHandler";

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* area = reinterpret_cast<WindowsNotificationArea*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (area != nullptr && area->HandleMessage(message, wParam, lParam)) return 0;
  switch (message) {
    // The hidden window survives close requests and never stands in the way of a shutdown.
    case WM_CLOSE:
    case WM_QUIT:
    case WM_NCDESTROY:
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
      return 1;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void CopyText(wchar_t* target, size_t capacity, const QString& text) {
  const std::wstring wide = text.toStdWString();
  const size_t count = std::min(wide.size(), capacity - 1);
  std::copy_n(wide.data(), count, target);
  target[count] = L'\0';
}

}  // namespace

WindowsNotificationArea::WindowsNotificationArea() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = TrayWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassW(&windowClass);
  HWND hwnd = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  if (hwnd != nullptr) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  window = hwnd;
  taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
}

WindowsNotificationArea::~WindowsNotificationArea() {
  if (window != nullptr) DestroyWindow(static_cast<HWND>(window));
}

bool WindowsNotificationArea::Send(TrayOperation operation, const NotifyIconData& data) {
  if (window == nullptr) return false;
  NOTIFYICONDATAW record{};
  record.cbSize = NOTIFYICONDATAW_V2_SIZE;
  record.hWnd = static_cast<HWND>(window);
  record.uID = static_cast<UINT>(data.id);
  record.uFlags = data.flags;
  record.uCallbackMessage = data.callbackMessage;
  HICON icon = nullptr;
  if (!data.icon.isNull()) icon = data.icon.pixmap(16, 16).toImage().toHICON();
  record.hIcon = icon;
  CopyText(record.szTip, std::size(record.szTip), data.tip);
  CopyText(record.szInfo, std::size(record.szInfo), data.info);
  CopyText(record.szInfoTitle, std::size(record.szInfoTitle), data.infoTitle);
  record.uTimeout = data.timeoutOrVersion;
  record.dwInfoFlags = data.infoFlags;
  const BOOL ok = Shell_NotifyIconW(static_cast<DWORD>(operation), &record);
  if (icon != nullptr) DestroyIcon(icon);  // the shell keeps its own copy
  return ok != FALSE;
}

bool WindowsNotificationArea::HandleMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (message == kTrayCallbackMessage) {
    // uID is 32 bits in the record; find the icon whose identity matches in those bits.
    for (const auto& [id, sink] : sinks) {
      if (static_cast<UINT>(id) == static_cast<UINT>(wParam)) {
        sink->TrayMessage(static_cast<uint32_t>(lParam));
        break;
      }
    }
    return true;
  }
  if (taskbarCreated != 0 && message == taskbarCreated) {
    std::vector<TrayMessageSink*> listeners;
    for (const auto& [id, sink] : sinks) listeners.push_back(sink);
    for (TrayMessageSink* sink : listeners) sink->TrayCreated();
    return true;
  }
  return false;
}

std::optional<QPoint> WindowsNotificationArea::CursorPosition() const {
  POINT point{};
  if (!GetCursorPos(&point)) return std::nullopt;
  return QPoint(point.x, point.y);
}

uint32_t WindowsNotificationArea::KeyboardShift() const {
  uint32_t shift = 0;
  if (GetAsyncKeyState(VK_SHIFT) & 0x8000) shift |= kShiftShift;
  if (GetAsyncKeyState(VK_MENU) & 0x8000) shift |= kShiftAlt;
  if (GetAsyncKeyState(VK_CONTROL) & 0x8000) shift |= kShiftCtrl;
  return shift;
}

int WindowsNotificationArea::DoubleClickTime() const {
  return static_cast<int>(GetDoubleClickTime());
}

void WindowsNotificationArea::PopupMenu(QMenu& menu, QPoint at) {
  // The menu only closes on an outside click when the program is in the foreground.
  SetForegroundWindow(static_cast<HWND>(window));
  menu.popup(at);
}

}  // namespace dv
