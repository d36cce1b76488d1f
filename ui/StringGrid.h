// A plain grid of text cells whose cells its owner draws: fixed column widths, one row height,
// a one-pixel line between cells, row 0 fixed (the headings). Clicking a non-fixed cell selects it.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <functional>
#include <vector>

namespace dv {

class StringGrid : public QAbstractScrollArea {
  Q_OBJECT
 public:
  StringGrid(std::vector<int> columnWidths, int defaultRowHeight, QWidget* parent = nullptr);

  int ColumnCount() const { return static_cast<int>(columnWidths_.size()); }
  int RowCount() const { return static_cast<int>(cells_.size()); }
  void SetRowCount(int rows);
  int DefaultRowHeight() const { return rowHeight_; }
  int ColumnWidth(int column) const { return columnWidths_.at(static_cast<size_t>(column)); }

  QString Cell(int column, int row) const;
  void SetCell(int column, int row, const QString& text);

  int SelectedColumn() const { return selectedColumn_; }
  int SelectedRow() const { return selectedRow_; }
  void Select(int column, int row);

  // Where cell (column, row) lies in the viewport.
  QRect CellRect(int column, int row) const;
  // The height that shows every row without scrolling: per row its height and its line, plus the
  // border.
  int FullHeight() const;

  // Draws one cell; the owner fills the rectangle and writes the text.
  std::function<void(QPainter&, int column, int row, const QRect&, bool selected)> onDrawCell;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void UpdateScrollRange();

  std::vector<int> columnWidths_;
  int rowHeight_;
  std::vector<std::vector<QString>> cells_;
  int selectedColumn_ = 0;
  int selectedRow_ = 1;
};

}  // namespace dv
