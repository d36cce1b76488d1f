#include "ui/LazyIcon.h"

#include <QIconEngine>
#include <QPainter>
#include <memory>
#include <optional>

namespace dv {

namespace {

// What the copies of one lazy icon share: the recipe, and the icon once made.
struct LazyIconState {
  std::function<QIcon()> make;
  std::optional<QIcon> made;

  const QIcon& Icon() {
    if (!made) {
      made = make ? make() : QIcon();
      make = nullptr;
    }
    return *made;
  }
};

class LazyIconEngine final : public QIconEngine {
 public:
  explicit LazyIconEngine(std::shared_ptr<LazyIconState> state) : state_(std::move(state)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    state_->Icon().paint(painter, rect, Qt::AlignCenter, mode, state);
  }
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return state_->Icon().actualSize(size, mode, state);
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return state_->Icon().pixmap(size, mode, state);
  }
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                       qreal scale) override {
    // `size` is in device pixels here; QIcon takes it in logical ones beside the ratio.
    if (scale == 1.0) return state_->Icon().pixmap(size, mode, state);
    return state_->Icon().pixmap(size / scale, scale, mode, state);
  }
  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
    return state_->Icon().availableSizes(mode, state);
  }
  QString key() const override { return QStringLiteral("dv.LazyIcon"); }
  QIconEngine* clone() const override { return new LazyIconEngine(state_); }
  bool isNull() override { return false; }

 private:
  std::shared_ptr<LazyIconState> state_;
};

}  // namespace

QIcon LazyIcon(std::function<QIcon()> make) {
  auto state = std::make_shared<LazyIconState>();
  state->make = std::move(make);
  return QIcon(new LazyIconEngine(std::move(state)));
}

}  // namespace dv
