#include "ui/SelfTestWindow.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace dv {
namespace {

QTreeWidget* MakeTable(const QStringList& headings, QWidget* parent) {
  auto* table = new QTreeWidget(parent);
  table->setHeaderLabels(headings);
  table->setRootIsDecorated(false);
  table->setSelectionMode(QAbstractItemView::NoSelection);
  table->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  return table;
}

QString Hex(uint8_t byte) { return QString("%1").arg(byte, 2, 16, QChar('0')).toUpper() + "h"; }

}  // namespace

TSelfTestForm::TSelfTestForm(QWidget* parent) : TSecondaryForm(parent) {
  setWindowTitle("Self-Tests");
  DriveL = new QLabel(this);
  ShortB = new QPushButton("Short Test", this);
  ExtendedB = new QPushButton("Extended Test", this);
  AbortB = new QPushButton("Abort", this);
  ProgressL = new QLabel(this);
  SelfTestLogT =
      MakeTable({"Num", "Type", "Status", "Remaining", "Lifetime hours", "First error LBA"}, this);
  ErrorCountL = new QLabel(this);
  ErrorLogT = MakeTable({"Num", "Lifetime hours", "Command", "Error", "Status", "LBA"}, this);

  auto* settings = new QGroupBox("All drives", this);
  SelfTestWarningsCB = new QCheckBox("Self-Test Warnings", settings);
  SelfTestWarningsCB->setToolTip(
      "Warn once when a drive logs a failed self-test or its error log's count rises");
  SelfTestEveryE = new QSpinBox(settings);
  SelfTestEveryE->setRange(0, kMaxSelfTestDays);
  SelfTestEveryE->setSpecialValueText("off");
  SelfTestEveryE->setSuffix(" days");
  SelfTestEveryE->setToolTip(
      "Start a short self-test on each drive whose last one is this many days old, one drive at "
      "a time");
  auto* settingsRow = new QHBoxLayout(settings);
  settingsRow->addWidget(SelfTestWarningsCB);
  settingsRow->addStretch();
  settingsRow->addWidget(new QLabel("Self-Test Every", settings));
  settingsRow->addWidget(SelfTestEveryE);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(DriveL, 1);
  for (QPushButton* button : {ShortB, ExtendedB, AbortB}) buttons->addWidget(button);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(ProgressL);
  layout->addWidget(new QLabel("Self-test log, newest first:", this));
  layout->addWidget(SelfTestLogT, 3);
  layout->addWidget(ErrorCountL);
  layout->addWidget(ErrorLogT, 2);
  layout->addWidget(settings);

  const auto start = [this](SelfTestKind kind) {
    if (onStart) onStart(kind);
  };
  connect(ShortB, &QPushButton::clicked, this, [start] { start(SelfTestKind::Short); });
  connect(ExtendedB, &QPushButton::clicked, this, [start] { start(SelfTestKind::Extended); });
  connect(AbortB, &QPushButton::clicked, this, [start] { start(SelfTestKind::Abort); });
}

void TSelfTestForm::ShowDrive(const QString& title) { DriveL->setText(title); }

void TSelfTestForm::ShowProgress(const QString& text) { ProgressL->setText(text); }

void TSelfTestForm::ShowSelfTestLog(const SelfTestLogReading& reading) {
  SelfTestLogT->clear();
  if (!reading.read) {
    SelfTestLogT->addTopLevelItem(
        new QTreeWidgetItem({"", "", QString::fromStdString(reading.reason)}));
    return;
  }
  int number = 0;
  for (const SelfTestRow& row : reading.rows) {
    auto* item = new QTreeWidgetItem(
        {QString::number(++number), QString::fromStdString(row.Type),
         QString::fromStdString(row.Status), QString("%1%").arg(row.RemainingPercent),
         QString::number(row.LifetimeHours),
         row.FirstErrorLba ? QString::number(*row.FirstErrorLba) : QString("-")});
    if (row.Failed) item->setForeground(2, Qt::red);
    SelfTestLogT->addTopLevelItem(item);
  }
}

void TSelfTestForm::ShowErrorLog(const ErrorLogReading& reading) {
  ErrorLogT->clear();
  if (!reading.read) {
    ErrorCountL->setText("Error log: " + QString::fromStdString(reading.reason));
    return;
  }
  ErrorCountL->setText(QString("Error log: %1 errors counted").arg(reading.log.Count));
  int number = reading.log.Count;
  for (const AtaErrorRecord& record : reading.log.Records) {
    const QString command =
        record.Commands.empty() ? QString("-") : Hex(record.Commands.front().Command);
    ErrorLogT->addTopLevelItem(new QTreeWidgetItem(
        {QString::number(number--), QString::number(record.LifetimeHours), command,
         Hex(record.Error), Hex(record.Status), QString::number(record.Lba())}));
  }
}

}  // namespace dv
