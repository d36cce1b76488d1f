// The History window of the selected drive, made on first use.
#include <QDateTime>

#include "app/MainUnit.h"
#include "ui/HistoryWindow.h"

namespace dv {

void TMainForm::HistorySBClick() {
  THistoryForm& window = HistoryForm();
  window.show();
  window.raise();
}

THistoryForm& TMainForm::HistoryForm() {
  if (historyForm_ == nullptr) {
    historyForm_ = std::make_unique<THistoryForm>(this);
    historyForm_->isExiting = [this] { return exiting_; };
  }
  const int position = SelectedPosition();
  HistoryDrive drive;
  QString title = "no drive";
  if (drives_.IsListed(position)) {
    const Drive& listed = drives_.At(position);
    drive = {listed.ModelNumber, listed.SerialNumber};
    title = QString("HDD%1: %2").arg(position).arg(QString::fromStdString(listed.ModelNumber));
  }
  HistorySource source;
  if (!drive.model.empty() || !drive.serial.empty()) {
    source.rows = [this, drive](int64_t since) { return history_.Rows(drive, since); };
  }
  source.keeping = [this] { return history_.On(); };
  source.setKeeping = [this](bool on) { return history_.Switch(on); };
  source.csv = [this](const std::vector<HistoryRow>& rows) { return history_.Csv(rows); };
  source.now = [] { return QDateTime::currentSecsSinceEpoch(); };
  historyForm_->ShowDrive(title, std::move(source));
  return *historyForm_;
}

}  // namespace dv
