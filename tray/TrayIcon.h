// TTrayIcon: one icon in the notification area. It keeps the icon record up to date, turns the
// platform's mouse notifications into events (telling a click from a double click), shows balloon
// hints, cycles through an icon list, and hides its owner window when that is minimized.
#pragma once

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "tray/NotificationArea.h"
#include "tray/SimpleTimer.h"

namespace dv {

enum class TrayMouseButton { Left = 0, Right = 1, Middle = 2 };

class TTrayIcon : public QObject, private TrayMessageSink {
 public:
  using NotifyEvent = std::function<void(TTrayIcon& sender)>;
  using MouseEvent =
      std::function<void(TTrayIcon& sender, TrayMouseButton button, uint32_t shift, int x, int y)>;
  using MouseMoveEvent = std::function<void(TTrayIcon& sender, uint32_t shift, int x, int y)>;
  using CycleEvent = std::function<void(TTrayIcon& sender, int nextIndex)>;
  using StartupEvent = std::function<void(TTrayIcon& sender, bool& showMainForm)>;

  static constexpr uint32_t kLeavePeriod = 20;
  // After the owner is shown again, a minimized state reported by the platform is taken for the
  // one the window was mapped with rather than for the user's, and undone, until the platform
  // reports the window restored or this long at most.
  static constexpr int kRestoreSettleMs = 2000;

  // owner: the main window whose minimizing becomes hiding (may be null).
  explicit TTrayIcon(NotificationArea& area, QWidget* owner = nullptr);
  ~TTrayIcon() override;

  // What the end of loading a configured icon does: asks OnStartup, sends the icon record and
  // applies IconVisible, CycleIcons and WantEnterExitEvents, then the notification version.
  void Loaded();
  // The window whose minimizing becomes hiding; it may be given after construction.
  QWidget* Owner() const { return owner; }
  void SetOwner(QWidget* value);

  const QIcon& Icon() const { return icon; }
  void SetIcon(const QIcon& value);
  bool IconVisible() const { return iconVisible; }
  void SetIconVisible(bool value);
  const QString& Hint() const { return hint; }
  void SetHint(const QString& value);
  bool ShowHint() const { return showHint; }
  void SetShowHint(bool value);
  const QList<QIcon>& IconList() const { return iconList; }
  void SetIconList(const QList<QIcon>& value);  // an empty list means none
  int IconIndex() const { return iconIndex; }
  void SetIconIndex(int value);
  bool CycleIcons() const { return cycleIcons; }
  void SetCycleIcons(bool value);
  uint32_t CycleInterval() const { return cycleInterval; }
  void SetCycleInterval(uint32_t value);
  bool WantEnterExitEvents() const { return wantEnterExitEvents; }
  void SetWantEnterExitEvents(bool value);
  bool Enabled() const { return enabled; }
  void SetEnabled(bool value) { enabled = value; }
  QMenu* PopupMenu() const { return popupMenu; }
  void SetPopupMenu(QMenu* value);
  bool LeftPopup() const { return leftPopup; }
  void SetLeftPopup(bool value) { leftPopup = value; }
  bool MinimizeToTray() const { return minimizeToTray; }
  void SetMinimizeToTray(bool value) { minimizeToTray = value; }
  bool DesignPreview() const { return designPreview; }
  void SetDesignPreview(bool value) { designPreview = value; }

  // Each returns the platform's success flag.
  virtual bool AddTrayIcon();
  virtual bool DeleteTrayIcon();
  virtual bool UpdateTrayIcon();
  bool ShowBalloon(const QString& title, const QString& text, TrayBalloonKind kind,
                   int timeoutSeconds);
  bool ClearBalloon();
  void SendMainFormToTray();

  const NotifyIconData& TrayIconData() const { return trayIconData; }
  uintptr_t Id() const { return reinterpret_cast<uintptr_t>(this); }
  const TSimpleTimer& SingleClickTimer() const { return singleClickTimer; }

  NotifyEvent OnClick, OnDblClick, OnMouseEnter, OnMouseExit, OnMinimizeToTray;
  NotifyEvent OnBalloonHintShow, OnBalloonHintHide, OnBalloonHintTimeout, OnBalloonHintClick;
  MouseEvent OnMouseDown, OnMouseUp;
  MouseMoveEvent OnMouseMove;
  CycleEvent OnCycle;
  StartupEvent OnStartup;

 protected:
  virtual void DoClick();
  virtual void DoDblClick();
  virtual void DoCycle(int nextIndex);
  virtual void DoMouseDown(TrayMouseButton button, uint32_t shift, int x, int y);
  virtual void DoMouseUp(TrayMouseButton button, uint32_t shift, int x, int y);
  virtual void DoMouseMove(uint32_t shift, int x, int y);
  virtual void DoMouseEnter();
  virtual void DoMouseExit();
  virtual void DoTrayMinimize();
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void TrayMessage(uint32_t message) override;
  void TrayCreated() override;
  bool Send(TrayOperation operation);
  void RefreshTrayIconData();
  void HandleMouse(uint32_t message);
  void HandleBalloon(uint32_t message);
  void LeftDown(uint32_t shift, QPoint at);
  void LeftUp(uint32_t shift, QPoint at);
  void LeftDoubleClick();
  void PopupAtCursor();
  void SingleClickTimerTick();
  void LeaveTimerTick();
  void IconCycleTimerTick();
  bool TryMinimizeEvents();

  NotificationArea& area;
  QPointer<QWidget> owner;
  NotifyIconData trayIconData;
  QIcon icon;
  QString hint;
  QList<QIcon> iconList;
  QPointer<QMenu> popupMenu;
  int iconIndex = 0;
  uint32_t cycleInterval = 0;
  bool iconVisible = false;
  bool showHint = true;
  bool cycleIcons = false;
  bool wantEnterExitEvents = false;
  bool enabled = true;
  bool leftPopup = false;
  bool minimizeToTray = false;
  bool designPreview = false;
  bool clickPending = false;
  bool clickReady = false;
  bool dblClickSeen = false;
  bool cursorOut = true;
  QPoint lastMovePos;
  TSimpleTimer iconCycleTimer;
  TSimpleTimer singleClickTimer;
  TSimpleTimer leaveTimer;
};

}  // namespace dv
