// The MBR window. It is created at start and lives to the end; what it shows comes later.
#pragma once

#include <QDialog>
#include <functional>

namespace dv {

class TMBRForm : public QDialog {
  Q_OBJECT
 public:
  explicit TMBRForm(QWidget* parent = nullptr);

  std::function<bool()> isExiting;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace dv
