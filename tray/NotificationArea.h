// The notification-area seam: what a tray icon component needs of the platform's tray. The
// component keeps its own icon record and sends it whole with one of four operations; the platform
// answers with its success flag and delivers mouse and balloon messages back by the icon's id.
#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class QMenu;

namespace dv {

enum class TrayOperation : uint32_t { Add = 0, Modify = 1, Delete = 2, SetVersion = 4 };

// Which parts of the record an operation carries.
inline constexpr uint32_t kNifMessage = 0x01;
inline constexpr uint32_t kNifIcon = 0x02;
inline constexpr uint32_t kNifTip = 0x04;
inline constexpr uint32_t kNifInfo = 0x10;
inline constexpr uint32_t kNifStandard = kNifMessage | kNifIcon | kNifTip;

// The record's fixed values (version-2 layout: 128-character tip, 256/64-character balloon).
inline constexpr uint32_t kNotifyIconDataSize = 488;
inline constexpr uint32_t kTrayCallbackMessage = 0x0400 + 0x0400;
inline constexpr int kTipMaxChars = 127;
inline constexpr int kInfoMaxChars = 255;
inline constexpr int kInfoTitleMaxChars = 63;
inline constexpr int kBalloonMaxSeconds = 255;

// What the platform delivers to an icon: the plain mouse message (legacy notification behaviour)
// or a balloon notification.
inline constexpr uint32_t kWmMouseMove = 0x0200;
inline constexpr uint32_t kWmLButtonDown = 0x0201;
inline constexpr uint32_t kWmLButtonUp = 0x0202;
inline constexpr uint32_t kWmLButtonDblClk = 0x0203;
inline constexpr uint32_t kWmRButtonDown = 0x0204;
inline constexpr uint32_t kWmRButtonUp = 0x0205;
inline constexpr uint32_t kWmMButtonDown = 0x0207;
inline constexpr uint32_t kWmMButtonUp = 0x0208;
inline constexpr uint32_t kNinBalloonShow = 0x0402;
inline constexpr uint32_t kNinBalloonHide = 0x0403;
inline constexpr uint32_t kNinBalloonTimeout = 0x0404;
inline constexpr uint32_t kNinBalloonUserClick = 0x0405;

// Balloon icon kinds, passed to the platform as the info flags 0..3.
enum class TrayBalloonKind : uint32_t { None = 0, Info = 1, Warning = 2, Error = 3 };

// Modifier bits of the mouse events.
inline constexpr uint32_t kShiftShift = 1;
inline constexpr uint32_t kShiftAlt = 2;
inline constexpr uint32_t kShiftCtrl = 4;
inline constexpr uint32_t kShiftLeft = 8;
inline constexpr uint32_t kShiftRight = 16;
inline constexpr uint32_t kShiftMiddle = 32;

struct NotifyIconData {
  uint32_t size = kNotifyIconDataSize;
  uintptr_t id = 0;  // the component's identity, carried back by every notification
  uint32_t flags = 0;
  uint32_t callbackMessage = kTrayCallbackMessage;
  QIcon icon;
  QString tip;        // at most kTipMaxChars
  QString info;       // at most kInfoMaxChars
  QString infoTitle;  // at most kInfoTitleMaxChars
  uint32_t timeoutOrVersion = 0;
  uint32_t infoFlags = 0;
};

// The first maxChars UTF-16 units of text, never ending in half a surrogate pair.
QString CutToChars(const QString& text, int maxChars);

// The receiving side of an icon: the component registers one per icon.
class TrayMessageSink {
 public:
  virtual ~TrayMessageSink() = default;
  virtual void TrayMessage(uint32_t message) = 0;
  // The tray host came (back): icons that should be visible must be added again.
  virtual void TrayCreated() = 0;
};

class NotificationArea {
 public:
  virtual ~NotificationArea() = default;
  virtual bool Send(TrayOperation operation, const NotifyIconData& data) = 0;
  virtual void Attach(uintptr_t id, TrayMessageSink& sink) = 0;
  virtual void Detach(uintptr_t id) = 0;
  // Read when a notification is handled; the notification itself carries no position.
  virtual std::optional<QPoint> CursorPosition() const = 0;
  virtual uint32_t KeyboardShift() const = 0;  // kShiftShift | kShiftAlt | kShiftCtrl
  virtual int DoubleClickTime() const = 0;     // milliseconds
  virtual void PopupMenu(QMenu& menu, QPoint at) = 0;
  // The icon's menu, for a tray that shows menus itself rather than have the program pop them up.
  virtual void SetMenu(uintptr_t /*id*/, QMenu* /*menu*/) {}
  // Whether a tray host is there to show icons now. A platform that always has one says yes.
  virtual bool TrayAvailable() const { return true; }

  // Called when a tray host appears (after the icons were told to add themselves again) or goes
  // away, with the new state.
  std::function<void(bool available)> onTrayAvailabilityChanged;
};

}  // namespace dv
