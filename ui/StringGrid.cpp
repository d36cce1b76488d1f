#include "ui/StringGrid.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace dv {

namespace {
constexpr int kLineWidth = 1;
constexpr int kBorder = 2;  // each side of the sunken frame
}  // namespace

StringGrid::StringGrid(std::vector<int> columnWidths, int defaultRowHeight, QWidget* parent)
    : QAbstractScrollArea(parent),
      columnWidths_(std::move(columnWidths)),
      rowHeight_(defaultRowHeight) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(kBorder);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  verticalScrollBar()->setSingleStep(1);
  SetRowCount(2);
}

void StringGrid::SetRowCount(int rows) {
  if (rows < 1) rows = 1;
  cells_.resize(static_cast<size_t>(rows), std::vector<QString>(columnWidths_.size()));
  if (selectedRow_ >= rows) selectedRow_ = rows - 1;
  UpdateScrollRange();
  viewport()->update();
}

QString StringGrid::Cell(int column, int row) const {
  if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount()) return {};
  return cells_[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

void StringGrid::SetCell(int column, int row, const QString& text) {
  if (row < 0 || column < 0 || column >= ColumnCount()) return;
  if (row >= RowCount()) SetRowCount(row + 1);
  cells_[static_cast<size_t>(row)][static_cast<size_t>(column)] = text;
  viewport()->update();
}

void StringGrid::Select(int column, int row) {
  selectedColumn_ = column;
  selectedRow_ = row;
  viewport()->update();
}

QRect StringGrid::CellRect(int column, int row) const {
  int left = 0;
  for (int c = 0; c < column; ++c) left += ColumnWidth(c) + kLineWidth;
  // Row 0 stays in place; the others scroll under it.
  const int firstScrolled = 1 + verticalScrollBar()->value();
  int top = 0;
  if (row > 0) {
    if (row < firstScrolled) return {};
    top = (rowHeight_ + kLineWidth) * (1 + row - firstScrolled);
  }
  return QRect(left, top, ColumnWidth(column), rowHeight_);
}

int StringGrid::FullHeight() const { return RowCount() * (rowHeight_ + kLineWidth) + 2 * kBorder; }

void StringGrid::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), palette().color(QPalette::Base));
  for (int row = 0; row < RowCount(); ++row) {
    for (int column = 0; column < ColumnCount(); ++column) {
      const QRect rect = CellRect(column, row);
      if (rect.isNull()) continue;
      const bool selected = row > 0 && row == selectedRow_ && column == selectedColumn_;
      painter.save();
      painter.setClipRect(rect);
      if (onDrawCell) {
        onDrawCell(painter, column, row, rect, selected);
      } else {
        painter.drawText(rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                         Cell(column, row));
      }
      painter.restore();
      // The lines right of and below the cell.
      painter.fillRect(rect.right() + 1, rect.top(), kLineWidth, rect.height() + kLineWidth,
                       palette().color(QPalette::Mid));
      painter.fillRect(rect.left(), rect.bottom() + 1, rect.width(), kLineWidth,
                       palette().color(QPalette::Mid));
    }
  }
}

void StringGrid::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  for (int row = 1; row < RowCount(); ++row) {
    for (int column = 0; column < ColumnCount(); ++column) {
      if (CellRect(column, row).contains(point)) {
        Select(column, row);
        return;
      }
    }
  }
}

void StringGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

void StringGrid::UpdateScrollRange() {
  const int visibleRows = viewport()->height() / (rowHeight_ + kLineWidth);
  verticalScrollBar()->setRange(0, std::max(0, RowCount() - std::max(visibleRows, 1)));
  verticalScrollBar()->setPageStep(std::max(1, visibleRows - 1));
}

}  // namespace dv
