#include "tray/TrayIcon.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace dv {

namespace {

// Set on the owner window while it leaves the minimized state after being shown again.
constexpr char kRestoringProperty[] = "diskvigilTrayRestoring";

}  // namespace

TTrayIcon::TTrayIcon(NotificationArea& area, QWidget* owner)
    : area(area),
      owner(owner),
      iconCycleTimer(TSimpleTimer::kDefaultPeriod, [this](TSimpleTimer&) { IconCycleTimerTick(); }),
      singleClickTimer(TSimpleTimer::kDefaultPeriod,
                       [this](TSimpleTimer&) { SingleClickTimerTick(); }),
      leaveTimer(kLeavePeriod, [this](TSimpleTimer&) { LeaveTimerTick(); }) {
  trayIconData.id = Id();
  trayIconData.flags = kNifStandard;
  area.Attach(Id(), *this);
  // Every icon watches the owner; the one created last sees a minimize first (filters installed
  // later run earlier), which is the order the program's six icons rely on.
  if (owner != nullptr) owner->installEventFilter(this);
}

TTrayIcon::~TTrayIcon() {
  DeleteTrayIcon();
  if (owner != nullptr) owner->removeEventFilter(this);
  area.Detach(Id());
}

void TTrayIcon::SetOwner(QWidget* value) {
  if (owner != nullptr) owner->removeEventFilter(this);
  owner = value;
  if (owner != nullptr) owner->installEventFilter(this);
}

void TTrayIcon::SetPopupMenu(QMenu* value) {
  popupMenu = value;
  area.SetMenu(Id(), value);
}

void TTrayIcon::Loaded() {
  if (owner != nullptr && OnStartup) {
    bool showMainForm = true;
    OnStartup(*this, showMainForm);
    if (!showMainForm) SendMainFormToTray();
  }
  UpdateTrayIcon();
  SetIconVisible(iconVisible);
  SetCycleIcons(cycleIcons);
  SetWantEnterExitEvents(wantEnterExitEvents);
  trayIconData.timeoutOrVersion = 0;  // legacy notifications: the plain mouse message
  Send(TrayOperation::SetVersion);
}

void TTrayIcon::SetIcon(const QIcon& value) {
  icon = value;
  UpdateTrayIcon();
}

void TTrayIcon::SetIconVisible(bool value) {
  if (value) {
    AddTrayIcon();
  } else {
    DeleteTrayIcon();
  }
}

void TTrayIcon::SetHint(const QString& value) {
  hint = value;
  UpdateTrayIcon();
}

void TTrayIcon::SetShowHint(bool value) {
  showHint = value;
  UpdateTrayIcon();
}

void TTrayIcon::SetIconList(const QList<QIcon>& value) {
  iconList = value;
  SetIconIndex(0);
}

void TTrayIcon::SetIconIndex(int value) {
  if (iconList.isEmpty()) {
    iconIndex = 0;
  } else {
    iconIndex = std::clamp(value, 0, static_cast<int>(iconList.size()) - 1);
    icon = iconList.at(iconIndex);
  }
  UpdateTrayIcon();
}

void TTrayIcon::SetCycleIcons(bool value) {
  cycleIcons = value;
  if (cycleIcons) {
    SetIconIndex(0);
    iconCycleTimer.SetPeriod(cycleInterval);
    iconCycleTimer.Start();  // refused at interval 0: such an icon never cycles
  } else {
    iconCycleTimer.Stop(true);
  }
}

void TTrayIcon::SetCycleInterval(uint32_t value) {
  cycleInterval = value;
  SetCycleIcons(cycleIcons);
}

void TTrayIcon::SetWantEnterExitEvents(bool value) {
  wantEnterExitEvents = value;
  leaveTimer.SetRunning(value);
}

bool TTrayIcon::AddTrayIcon() {
  iconVisible = true;
  return Send(TrayOperation::Add);
}

bool TTrayIcon::DeleteTrayIcon() {
  iconVisible = false;
  return Send(TrayOperation::Delete);
}

bool TTrayIcon::UpdateTrayIcon() { return Send(TrayOperation::Modify); }

bool TTrayIcon::Send(TrayOperation operation) {
  RefreshTrayIconData();
  return area.Send(operation, trayIconData);
}

void TTrayIcon::RefreshTrayIconData() {
  trayIconData.icon = icon;
  trayIconData.tip = (showHint && !hint.isEmpty()) ? CutToChars(hint, kTipMaxChars) : QString();
}

bool TTrayIcon::ClearBalloon() {
  trayIconData.flags |= kNifInfo;
  trayIconData.info.clear();
  return UpdateTrayIcon();
}

bool TTrayIcon::ShowBalloon(const QString& title, const QString& text, TrayBalloonKind kind,
                            int timeoutSeconds) {
  ClearBalloon();
  trayIconData.flags |= kNifInfo;
  trayIconData.info = CutToChars(text, kInfoMaxChars);
  trayIconData.infoTitle = CutToChars(title, kInfoTitleMaxChars);
  trayIconData.timeoutOrVersion =
      static_cast<uint32_t>(std::clamp(timeoutSeconds, 0, kBalloonMaxSeconds)) * 1000;
  trayIconData.infoFlags = static_cast<uint32_t>(kind);
  const bool shown = UpdateTrayIcon();
  // Later updates must not show the balloon again.
  trayIconData.flags = kNifStandard;
  return shown;
}

void TTrayIcon::SendMainFormToTray() {
  if (owner == nullptr) return;
  // The window keeps its minimized state while hidden and leaves it when it is shown again
  // (eventFilter). Leaving it here would go wrong on X11: a native window that leaves the minimized
  // state is mapped again, and the window manager, still busy iconifying it, may then leave it on
  // the screen while the program takes it for hidden.
  owner->hide();
}

void TTrayIcon::TrayMessage(uint32_t message) {
  if (message >= kNinBalloonShow && message <= kNinBalloonUserClick) {
    HandleBalloon(message);
  } else if (enabled) {
    HandleMouse(message);
  }
}

void TTrayIcon::TrayCreated() {
  if (iconVisible) AddTrayIcon();
}

void TTrayIcon::HandleMouse(uint32_t message) {
  const QPoint at = area.CursorPosition().value_or(QPoint());
  const uint32_t shift = area.KeyboardShift();
  switch (message) {
    case kWmMouseMove:
      if (wantEnterExitEvents && cursorOut) {
        DoMouseEnter();
        cursorOut = false;
      }
      DoMouseMove(shift, at.x(), at.y());
      lastMovePos = at;
      break;
    case kWmLButtonDown:
      LeftDown(shift, at);
      break;
    case kWmLButtonUp:
      LeftUp(shift, at);
      break;
    case kWmLButtonDblClk:
      LeftDoubleClick();
      break;
    case kWmRButtonDown:
      DoMouseDown(TrayMouseButton::Right, shift | kShiftRight, at.x(), at.y());
      PopupAtCursor();
      break;
    case kWmRButtonUp:
      DoMouseUp(TrayMouseButton::Right, shift | kShiftRight, at.x(), at.y());
      break;
    case kWmMButtonDown:
      DoMouseDown(TrayMouseButton::Middle, shift | kShiftMiddle, at.x(), at.y());
      break;
    case kWmMButtonUp:
      DoMouseUp(TrayMouseButton::Middle, shift | kShiftMiddle, at.x(), at.y());
      break;
    default:
      break;
  }
}

void TTrayIcon::HandleBalloon(uint32_t message) {
  const NotifyEvent* event = nullptr;
  switch (message) {
    case kNinBalloonShow:
      event = &OnBalloonHintShow;
      break;
    case kNinBalloonHide:
      event = &OnBalloonHintHide;
      break;
    case kNinBalloonTimeout:
      event = &OnBalloonHintTimeout;
      break;
    case kNinBalloonUserClick:
      event = &OnBalloonHintClick;
      break;
    default:
      return;
  }
  if (*event) (*event)(*this);
}

void TTrayIcon::LeftDown(uint32_t shift, QPoint at) {
  // Only an icon that cares about double clicks waits to see whether a second click follows.
  if (OnDblClick) {
    singleClickTimer.SetPeriod(static_cast<uint32_t>(std::max(1, area.DoubleClickTime())));
    singleClickTimer.Start();
  }
  DoMouseDown(TrayMouseButton::Left, shift | kShiftLeft, at.x(), at.y());
  clickPending = true;
  if (leftPopup) PopupAtCursor();
}

void TTrayIcon::LeftUp(uint32_t shift, QPoint at) {
  if (clickPending) clickReady = true;
  if (clickPending && !singleClickTimer.Running()) {
    clickPending = false;
    clickReady = false;
    DoClick();
  }
  clickPending = false;
  DoMouseUp(TrayMouseButton::Left, shift | kShiftLeft, at.x(), at.y());
}

void TTrayIcon::LeftDoubleClick() {
  clickReady = false;
  dblClickSeen = true;
  DoDblClick();
  if (popupMenu != nullptr && !leftPopup) {
    if (QAction* action = popupMenu->defaultAction()) action->trigger();
  }
}

void TTrayIcon::PopupAtCursor() {
  if (popupMenu == nullptr) return;
  const std::optional<QPoint> at = area.CursorPosition();
  if (!at) return;
  area.PopupMenu(*popupMenu, *at);
}

void TTrayIcon::SingleClickTimerTick() {
  singleClickTimer.Stop(true);
  if (!dblClickSeen && clickReady) {
    clickReady = false;
    DoClick();
  }
  dblClickSeen = false;
}

void TTrayIcon::LeaveTimerTick() {
  if (cursorOut) return;
  const std::optional<QPoint> at = area.CursorPosition();
  if (!at || *at == lastMovePos) return;
  cursorOut = true;
  DoMouseExit();
}

void TTrayIcon::IconCycleTimerTick() {
  if (iconList.isEmpty()) return;
  const int count = static_cast<int>(iconList.size());
  iconIndex = std::clamp(iconIndex, 0, count - 1);
  SetIcon(iconList.at(iconIndex));
  const int next = iconIndex + 1 < count ? iconIndex + 1 : 0;
  DoCycle(next);
  SetIconIndex(next);
}

void TTrayIcon::DoClick() {
  if (OnClick) OnClick(*this);
}

void TTrayIcon::DoDblClick() {
  if (OnDblClick) OnDblClick(*this);
}

void TTrayIcon::DoCycle(int nextIndex) {
  if (OnCycle) OnCycle(*this, nextIndex);
}

void TTrayIcon::DoMouseDown(TrayMouseButton button, uint32_t shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(*this, button, shift, x, y);
}

void TTrayIcon::DoMouseUp(TrayMouseButton button, uint32_t shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(*this, button, shift, x, y);
}

void TTrayIcon::DoMouseMove(uint32_t shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(*this, shift, x, y);
}

void TTrayIcon::DoMouseEnter() {
  if (OnMouseEnter) OnMouseEnter(*this);
}

void TTrayIcon::DoMouseExit() {
  if (OnMouseExit) OnMouseExit(*this);
}

void TTrayIcon::DoTrayMinimize() { SendMainFormToTray(); }

bool TTrayIcon::TryMinimizeEvents() {
  if (!minimizeToTray || !OnMinimizeToTray) return false;
  OnMinimizeToTray(*this);
  DoTrayMinimize();
  return true;
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
  if (watched != owner || owner == nullptr) return false;
  switch (event->type()) {
    case QEvent::WindowStateChange:
      // The platform reports the window restored: a showing again is complete.
      if (event->spontaneous() && !owner->isMinimized()) {
        owner->setProperty(kRestoringProperty, false);
      }
      // A window already sent to the tray stays minimized while hidden; the platform may report
      // that state once more.
      if (!minimizeToTray || !owner->isMinimized() || !owner->isVisible()) return false;
      // Shown again just now: the window manager reports the minimized state the window was
      // mapped with. That is no minimize by the user: the window is restored, whether it was
      // still minimized when shown (undone below as well) or the window manager went by the
      // iconic hint the native window kept from before, although the window had been reported
      // restored while hidden (X11, in about one restore in six under openbox).
      if (owner->property(kRestoringProperty).toBool() && event->spontaneous()) {
        QTimer::singleShot(0, owner, [window = owner.data()] {
          if (window->isVisible() && window->isMinimized())
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        });
        return false;
      }
      // The state change has to finish before the window can be hidden.
      QTimer::singleShot(0, this, [this] {
        // Not asked whether it is still minimized: on Wayland, which never reports that state,
        // Qt takes it back at once, while the compositor keeps the window minimized.
        if (owner == nullptr || !owner->isVisible()) return;
        // Without a handler the window would minimize normally, but the program as a whole
        // minimizing still sends its main window to the tray.
        if (!TryMinimizeEvents()) DoTrayMinimize();
      });
      // An icon with a handler takes the minimize for itself; the others never see it.
      return static_cast<bool>(OnMinimizeToTray);
    case QEvent::Show:
      // The program's own showing (sent before the native window is mapped): shown again, the
      // window comes back in its normal state rather than minimized. Every icon watching the
      // window must know, not only the one that saw the showing first.
      if (!event->spontaneous()) {
        owner->setProperty(kRestoringProperty, true);
        QTimer::singleShot(kRestoreSettleMs, owner, [window = owner.data()] {
          window->setProperty(kRestoringProperty, false);
        });
      }
      // The widget leaves that state at once; the native window only once it has been mapped,
      // which a window manager takes as the request to restore it. Leaving it before would map
      // the window early, with the minimized hint still set, and the window manager has been
      // seen to leave it unmapped.
      if (!event->spontaneous() && owner->isMinimized()) {
        owner->overrideWindowState(owner->windowState() & ~Qt::WindowMinimized);
        QTimer::singleShot(0, this, [this] {
          if (owner == nullptr || !owner->isVisible()) return;
          const Qt::WindowStates wanted = owner->windowState() & ~Qt::WindowActive;
          QWindow* native = owner->windowHandle();
          if (native != nullptr && native->windowStates() != wanted)
            native->setWindowStates(wanted);
        });
      }
      owner->raise();
      owner->activateWindow();
      return false;
    default:
      return false;
  }
}

}  // namespace dv
