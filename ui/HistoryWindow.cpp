#include "ui/HistoryWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>

#include "core/Counters.h"

namespace dv {
namespace {

constexpr int64_t kDay = 86400;
struct Range {
  const char* name;
  int64_t seconds;
};
constexpr Range kRanges[] = {{"Last day", kDay},
                             {"Last week", 7 * kDay},
                             {"Last month", 30 * kDay},
                             {"Last year", 365 * kDay}};

constexpr int kAxisRoom = 36;  // room for the axis texts
const QColor kLineColor(0, 90, 200);
const QColor kBandColor(0, 90, 200, 50);
const QColor kRiseColor(230, 120, 0);
const QColor kVerdictColor(210, 0, 0);
const QColor kSleepColor(110, 110, 110);

int64_t SpanOf(const HistoryRow& row) { return static_cast<int64_t>(row.span); }

bool CounterRose(const HistoryRow& before, const HistoryRow& after) {
  for (size_t i = 0; i < after.values.counters.size(); ++i) {
    const auto& was = before.values.counters[i];
    const auto& now = after.values.counters[i];
    if (was && now && *now > *was) return true;
  }
  return false;
}

}  // namespace

HistoryGraph::HistoryGraph(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setMinimumSize(560, 240);
  setAutoFillBackground(true);
  QPalette colors = palette();
  colors.setColor(QPalette::Window, Qt::white);
  setPalette(colors);
}

void HistoryGraph::SetRows(std::vector<HistoryRow> rows, int64_t from, int64_t to) {
  rows_ = std::move(rows);
  from_ = from;
  to_ = std::max(to, from + 1);
  update();
}

double HistoryGraph::XOf(int64_t time) const {
  const double plot = width() - 2 * kAxisRoom;
  return kAxisRoom + plot * static_cast<double>(time - from_) / static_cast<double>(to_ - from_);
}

const HistoryRow* HistoryGraph::RowAt(int x) const {
  const HistoryRow* nearest = nullptr;
  double best = 8;  // pixels
  for (const HistoryRow& row : rows_) {
    const double distance = std::abs(XOf(row.time + SpanOf(row) / 2) - x);
    if (distance <= best) {
      best = distance;
      nearest = &row;
    }
  }
  return nearest;
}

void HistoryGraph::mouseMoveEvent(QMouseEvent* event) {
  if (onHover) onHover(RowAt(static_cast<int>(event->position().x())));
}

void HistoryGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF plot(kAxisRoom, 10, width() - 2 * kAxisRoom, height() - 10 - kAxisRoom);
  painter.setPen(Qt::gray);
  painter.drawRect(plot);
  std::optional<int> low;
  std::optional<int> high;
  for (const HistoryRow& row : rows_) {
    for (const auto& value : {row.values.temperature, row.lowest, row.highest}) {
      if (!value) continue;
      low = std::min(low.value_or(*value), *value);
      high = std::max(high.value_or(*value), *value);
    }
  }
  if (!low) {
    painter.drawText(plot, Qt::AlignCenter, "No history kept for this range");
    return;
  }
  const int bottom = *low - 2;
  const int top = std::max(*high + 2, bottom + 5);
  const auto yOf = [&](double celsius) {
    return plot.bottom() - plot.height() * (celsius - bottom) / (top - bottom);
  };
  // The temperature scale, and the range's start and end below the plot.
  for (int celsius = bottom; celsius <= top; celsius += std::max(1, (top - bottom) / 5)) {
    painter.drawText(QRectF(0, yOf(celsius) - 8, kAxisRoom - 4, 16), Qt::AlignRight,
                     QString::number(celsius));
  }
  const auto dateText = [](int64_t time) {
    return QDateTime::fromSecsSinceEpoch(time).toString("yyyy-MM-dd hh:mm");
  };
  painter.drawText(QRectF(plot.left(), plot.bottom() + 4, 200, 16), Qt::AlignLeft, dateText(from_));
  painter.drawText(QRectF(plot.right() - 200, plot.bottom() + 4, 200, 16), Qt::AlignRight,
                   dateText(to_));
  painter.setClipRect(plot);

  // One column per pixel: a year holds far more rows than the plot has pixels, so each column
  // gathers its rows' range, mean and marks, and is drawn once.
  struct Column {
    std::optional<int> low, high;
    double sum = 0;
    int count = 0;
    bool asleep = false, rose = false, verdictChanged = false;
  };
  const int columns = std::max(1, static_cast<int>(plot.width()));
  std::vector<Column> bins(static_cast<size_t>(columns));
  const HistoryRow* previous = nullptr;
  for (const HistoryRow& row : rows_) {
    const int first = static_cast<int>(XOf(row.time) - plot.left());
    const int last = std::max(first, static_cast<int>(XOf(row.time + SpanOf(row)) - plot.left()));
    for (int c = std::max(0, first); c <= std::min(columns - 1, last); ++c) {
      Column& bin = bins[static_cast<size_t>(c)];
      for (const auto& value : {row.values.temperature, row.lowest, row.highest}) {
        if (!value) continue;
        bin.low = std::min(bin.low.value_or(*value), *value);
        bin.high = std::max(bin.high.value_or(*value), *value);
      }
      if (row.values.temperature) {
        bin.sum += *row.values.temperature;
        ++bin.count;
      }
      bin.asleep = bin.asleep || row.values.asleep;
      if (c == std::max(0, first) && previous != nullptr) {
        bin.rose = bin.rose || CounterRose(*previous, row);
        bin.verdictChanged = bin.verdictChanged || previous->values.verdict != row.values.verdict;
      }
    }
    previous = &row;
  }
  QPainterPath line;
  bool drawing = false;
  for (int c = 0; c < columns; ++c) {
    const Column& bin = bins[static_cast<size_t>(c)];
    const double x = plot.left() + c;
    if (bin.asleep) painter.fillRect(QRectF(x, plot.bottom() - 6, 1, 6), kSleepColor);
    if (bin.low && bin.high && *bin.high > *bin.low) {
      painter.fillRect(QRectF(x, yOf(*bin.high), 1, yOf(*bin.low) - yOf(*bin.high)), kBandColor);
    }
    if (bin.verdictChanged) {
      painter.setPen(QPen(kVerdictColor, 2));
      painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    if (bin.rose) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(kRiseColor);
      painter.drawPolygon(QPolygonF({QPointF(x, plot.top() + 2), QPointF(x - 5, plot.top() + 11),
                                     QPointF(x + 5, plot.top() + 11)}));
    }
    if (bin.count > 0) {
      const QPointF point(x, yOf(bin.sum / bin.count));
      drawing ? line.lineTo(point) : line.moveTo(point);
      drawing = true;
    } else if (!bin.asleep) {
      drawing = drawing && bin.low.has_value();  // a gap where nothing was read
    }
  }
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(kLineColor, 1.5));
  painter.drawPath(line);
}

THistoryForm::THistoryForm(QWidget* parent) : TSecondaryForm(parent) {
  setWindowTitle("History");
  KeepHistoryCB = new QCheckBox("Keep History", this);
  KeepHistoryCB->setToolTip("Keep each pass's readings of every drive in the history file");
  RangeCB = new QComboBox(this);
  for (const Range& range : kRanges) RangeCB->addItem(range.name);
  SavePngB = new QPushButton("Save as PNG...", this);
  SaveCsvB = new QPushButton("Save as CSV...", this);
  Graph = new HistoryGraph(this);
  ReadoutL = new QLabel(" ", this);
  auto* top = new QHBoxLayout;
  top->addWidget(KeepHistoryCB);
  top->addStretch();
  top->addWidget(RangeCB);
  top->addWidget(SavePngB);
  top->addWidget(SaveCsvB);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Graph, 1);
  layout->addWidget(ReadoutL);

  connect(RangeCB, &QComboBox::currentIndexChanged, this, [this] { Reload(); });
  connect(KeepHistoryCB, &QCheckBox::toggled, this, [this](bool on) {
    if (!source_.setKeeping) return;
    const std::string note = source_.setKeeping(on);
    if (!note.empty()) ReadoutL->setText(QString::fromStdString(note));
    if (source_.keeping && source_.keeping() != on) {
      const QSignalBlocker quiet(KeepHistoryCB);
      KeepHistoryCB->setChecked(source_.keeping());
    }
  });
  connect(SavePngB, &QPushButton::clicked, this, [this] { SavePng(); });
  connect(SaveCsvB, &QPushButton::clicked, this, [this] { SaveCsv(); });
  Graph->onHover = [this](const HistoryRow* row) {
    ReadoutL->setText(row != nullptr ? Readout(*row) : QString(" "));
  };
}

void THistoryForm::ShowDrive(const QString& title, HistorySource source) {
  source_ = std::move(source);
  setWindowTitle("History - " + title);
  const QSignalBlocker quiet(KeepHistoryCB);
  KeepHistoryCB->setChecked(source_.keeping && source_.keeping());
  Reload();
}

void THistoryForm::Reload() {
  const int64_t now = source_.now ? source_.now() : QDateTime::currentSecsSinceEpoch();
  const int64_t from = now - kRanges[std::max(0, RangeCB->currentIndex())].seconds;
  Graph->SetRows(source_.rows ? source_.rows(from) : std::vector<HistoryRow>{}, from, now);
  ReadoutL->setText(QString("%1 rows").arg(Graph->Rows().size()));
}

QString THistoryForm::Readout(const HistoryRow& row) {
  const HistorySample& v = row.values;
  QString text = QDateTime::fromSecsSinceEpoch(row.time).toString("yyyy-MM-dd hh:mm:ss");
  if (row.span == HistorySpan::TenMinutes) text += " (10 minutes)";
  if (row.span == HistorySpan::Day) text += " (day)";
  text += v.temperature ? QString(": %1 C").arg(*v.temperature) : QString(": ... C");
  if (row.lowest && row.highest) text += QString(" (%1..%2)").arg(*row.lowest).arg(*row.highest);
  text += QString(", ") + HistoryVerdictName(v.verdict);
  if (v.caution) text += ", caution";
  if (v.asleep) text += ", asleep";
  for (size_t i = 0; i < kWatchedCounterIds.size(); ++i) {
    if (v.counters[i] && *v.counters[i] > 0) {
      text += QString(", %1=%2").arg(kWatchedCounterIds[i]).arg(*v.counters[i]);
    }
  }
  return text;
}

void THistoryForm::SavePng() {
  const QString path =
      QFileDialog::getSaveFileName(this, "Save as PNG", "history.png", "PNG pictures (*.png)");
  if (!path.isEmpty() && !Graph->grab().save(path, "PNG")) {
    ReadoutL->setText("Unable to write to " + path);
  }
}

void THistoryForm::SaveCsv() {
  const QString path =
      QFileDialog::getSaveFileName(this, "Save as CSV", "history.csv", "CSV files (*.csv)");
  if (path.isEmpty() || !source_.csv) return;
  const std::string text = source_.csv(Graph->Rows());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(text.data(), static_cast<qint64>(text.size())) !=
          static_cast<qint64>(text.size())) {
    ReadoutL->setText("Unable to write to " + path);
  }
}

}  // namespace dv
