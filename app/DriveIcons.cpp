#include "app/DriveIcons.h"

#include <QEvent>
#include <QStatusBar>
#include <QString>
#include <QWidget>

#include "app/HealthColors.h"
#include "tray/NotificationArea.h"

namespace dv {

namespace {

TrayBalloonKind ToTrayKind(BalloonKind kind) {
  switch (kind) {
    case BalloonKind::Info:
      return TrayBalloonKind::Info;
    case BalloonKind::Warning:
      return TrayBalloonKind::Warning;
    case BalloonKind::Error:
      return TrayBalloonKind::Error;
    case BalloonKind::None:
      break;
  }
  return TrayBalloonKind::None;
}

// Lets the window minimize to the task bar like any other: the minimize never reaches the icons or
// the window's own minimize-to-tray handling, which would hide it for good.
class MinimizeKeepsWindow : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = qobject_cast<QWidget*>(watched);
    return event->type() == QEvent::WindowStateChange && window != nullptr && window->isMinimized();
  }
};

}  // namespace

TrayFallback::TrayFallback(QWidget& mainWindow, QStatusBar& status, NotificationArea& area)
    : mainWindow_(mainWindow), status_(status), area_(area) {
  area_.onTrayAvailabilityChanged = [this](bool available) { TrayAvailabilityChanged(available); };
}

TrayFallback::~TrayFallback() { area_.onTrayAvailabilityChanged = nullptr; }

bool TrayFallback::Start() {
  if (area_.TrayAvailable()) return false;
  Apply();
  return true;
}

void TrayFallback::TrayAvailabilityChanged(bool available) {
  if (available) {
    Undo();
  } else {
    Apply();
  }
}

void TrayFallback::Apply() {
  if (Active()) return;
  // Installed after the icons' filters, so it sees the minimize first.
  filter_ = new MinimizeKeepsWindow(&mainWindow_);
  mainWindow_.installEventFilter(filter_);
  status_.showMessage(QString::fromLatin1(kNoTrayMessage));
  mainWindow_.setWindowState(mainWindow_.windowState() & ~Qt::WindowMinimized);
  mainWindow_.show();
}

void TrayFallback::Undo() {
  if (!Active()) return;
  delete filter_;  // leaves the window's filter list as well
  filter_ = nullptr;
  if (status_.currentMessage() == QString::fromLatin1(kNoTrayMessage)) status_.clearMessage();
  // As at a normal start: only the icons show.
  mainWindow_.setWindowState(mainWindow_.windowState() & ~Qt::WindowMinimized);
  mainWindow_.hide();
}

DriveIcons::DriveIcons(NotificationArea& area, QWidget* owner) {
  for (int index = 0; index < kTemperatureIconCount; ++index) {
    auto icon = std::make_unique<TTextTrayIcon>(area, owner);
    icon->setObjectName(QStringLiteral("HDD%1I").arg(index));
    // The font first: a text painted in the application's own font would load that font's
    // engine too, only to be replaced at once.
    icon->SetFont(SmallIconFont());
    icon->SetText(QStringLiteral("0"));
    icon->SetFontColor(kClYellow);
    icon->SetColor(kClBlack);
    icon->SetBorder(true);
    icon->SetBorderColor(HealthColor(Health::Passed));
    icon->SetMinimizeToTray(true);
    icon->OnClick = [this, index](TTrayIcon&) {
      if (onClick) onClick(index);
    };
    icon->OnMinimizeToTray = [this, index](TTrayIcon&) {
      if (onMinimizeToTray) onMinimizeToTray(index);
    };
    icon->Loaded();  // not visible: nothing reaches the tray yet
    icons[static_cast<size_t>(index)] = std::move(icon);
  }
}

DriveIcons::~DriveIcons() = default;

void DriveIcons::SetOwner(QWidget* owner) {
  for (auto& icon : icons) icon->SetOwner(owner);
}

TTextTrayIcon* DriveIcons::Icon(int index) {
  if (index < 0 || index >= kTemperatureIconCount) return nullptr;
  return icons[static_cast<size_t>(index)].get();
}

void DriveIcons::SetText(int index, const std::string& text) {
  if (TTextTrayIcon* icon = Icon(index)) icon->SetText(QString::fromStdString(text));
}

void DriveIcons::SetFontColor(int index, uint32_t color) {
  if (TTextTrayIcon* icon = Icon(index)) icon->SetFontColor(color);
}

void DriveIcons::SetBackColor(int index, uint32_t color) {
  if (TTextTrayIcon* icon = Icon(index)) icon->SetColor(color);
}

void DriveIcons::SetBorderColor(int index, uint32_t color) {
  if (TTextTrayIcon* icon = Icon(index)) icon->SetBorderColor(color);
}

void DriveIcons::SetHint(int index, const std::string& hint) {
  if (TTextTrayIcon* icon = Icon(index)) icon->SetHint(QString::fromStdString(hint));
}

void DriveIcons::SetVisible(int index, bool visible) {
  if (TTextTrayIcon* icon = Icon(index)) icon->SetIconVisible(visible);
}

void DriveIcons::SetPopupMenu(QMenu* menu) {
  for (auto& icon : icons) icon->SetPopupMenu(menu);
}

bool DriveIcons::ShowBalloon(int index, const std::string& title, const std::string& text,
                             BalloonKind kind, int seconds) {
  TTextTrayIcon* icon = Icon(index);
  if (icon == nullptr) return false;
  return icon->ShowBalloon(QString::fromStdString(title), QString::fromStdString(text),
                           ToTrayKind(kind), seconds);
}

}  // namespace dv
