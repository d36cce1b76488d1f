// The History window: one drive's temperature over the last day, week, month or year, drawn with
// QPainter: the line of the readings, the lowest-to-highest band where rows are folded, and marks
// where a counter rose (orange), the verdict changed (red) and the drive slept (grey). Pointing at
// the graph reads the nearest row out below it; the rows save as PNG or CSV. "Keep History" at
// its top is the setting itself. Made on first use.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "history/HistorySample.h"
#include "ui/SecondaryForm.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace dv {

// What the window needs of the program; the main window fills it in.
struct HistorySource {
  std::function<std::vector<HistoryRow>(int64_t since)> rows;  // of the drive shown
  std::function<bool()> keeping;
  std::function<std::string(bool)> setKeeping;  // a note for the window, empty for none
  std::function<std::string(const std::vector<HistoryRow>&)> csv;
  std::function<int64_t()> now;  // Unix seconds
};

class HistoryGraph : public QWidget {
  Q_OBJECT
 public:
  explicit HistoryGraph(QWidget* parent);
  void SetRows(std::vector<HistoryRow> rows, int64_t from, int64_t to);
  const std::vector<HistoryRow>& Rows() const { return rows_; }
  // The row nearest to x, or null.
  const HistoryRow* RowAt(int x) const;
  std::function<void(const HistoryRow*)> onHover;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  double XOf(int64_t time) const;
  std::vector<HistoryRow> rows_;
  int64_t from_ = 0;
  int64_t to_ = 1;
};

class THistoryForm : public TSecondaryForm {
  Q_OBJECT
 public:
  explicit THistoryForm(QWidget* parent = nullptr);

  // Shows the drive's rows for the chosen range.
  void ShowDrive(const QString& title, HistorySource source);
  void Reload();
  // One line about a row: time, temperature (with its range), verdict, counters.
  static QString Readout(const HistoryRow& row);

  QCheckBox* KeepHistoryCB;
  QComboBox* RangeCB;
  QPushButton* SavePngB;
  QPushButton* SaveCsvB;
  HistoryGraph* Graph;
  QLabel* ReadoutL;

 private:
  void SavePng();
  void SaveCsv();
  HistorySource source_;
};

}  // namespace dv
