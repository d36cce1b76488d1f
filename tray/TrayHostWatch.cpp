#include "tray/TrayHostWatch.h"

#include <QGuiApplication>
#include <QString>
#include <utility>

namespace dv {

namespace {

// Both sides of a Linux desktop: either may appear or go at any time.
class DesktopTrayHostWatch : public TrayHostWatch {
 public:
  DesktopTrayHostWatch(std::unique_ptr<TrayHostWatch> statusNotifier,
                       std::unique_ptr<TrayHostWatch> xembed)
      : statusNotifier_(std::move(statusNotifier)), xembed_(std::move(xembed)) {
    for (TrayHostWatch* part : {statusNotifier_.get(), xembed_.get()}) {
      if (part != nullptr) {
        part->onChanged = [this] {
          if (onChanged) onChanged();
        };
      }
    }
  }

  bool StatusNotifierHost() const override {
    return statusNotifier_ != nullptr && statusNotifier_->StatusNotifierHost();
  }
  bool XEmbedTray() const override { return xembed_ != nullptr && xembed_->XEmbedTray(); }

 private:
  std::unique_ptr<TrayHostWatch> statusNotifier_;
  std::unique_ptr<TrayHostWatch> xembed_;
};

}  // namespace

std::unique_ptr<TrayHostWatch> CreateTrayHostWatch() {
  const QString platform = QGuiApplication::platformName();
  // Elsewhere (Windows, macOS, offscreen) the tray is the platform's own business.
  if (platform != QStringLiteral("xcb") && platform != QStringLiteral("wayland")) return nullptr;
  std::unique_ptr<TrayHostWatch> statusNotifier = CreateStatusNotifierWatch();
  std::unique_ptr<TrayHostWatch> xembed = CreateXEmbedWatch();
  if (statusNotifier == nullptr && xembed == nullptr) return nullptr;
  return std::make_unique<DesktopTrayHostWatch>(std::move(statusNotifier), std::move(xembed));
}

}  // namespace dv
