// A pair of arrow buttons bound to a read-only edit, stepping a position between a minimum and a
// maximum. Only a click on an arrow emits clicked(); setting the position from code stays quiet,
// which is what the interval and delay settings rely on when they are loaded.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace dv {

class UpDown : public QWidget {
  Q_OBJECT
 public:
  UpDown(int minimum, int maximum, int step, int position, QWidget* parent = nullptr);

  // The edit that shows the position; may be null.
  void SetAssociate(QLineEdit* edit);
  int Position() const { return position_; }
  // Clamps to the range and shows the value; no signal.
  void SetPosition(int position);
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }

  // The arrows, for tests and for keyboard-free use.
  void ClickUp() { Step(+1); }
  void ClickDown() { Step(-1); }

 signals:
  void clicked();

 private:
  void Step(int direction);
  void ShowPosition();

  int minimum_;
  int maximum_;
  int step_;
  int position_;
  QLineEdit* associate_ = nullptr;
  QToolButton* up_;
  QToolButton* down_;
};

}  // namespace dv
