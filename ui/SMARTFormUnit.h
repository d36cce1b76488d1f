// The S.M.A.R.T. window: the selected drive's verdict and attribute table, with read again, the
// raw presentation switch, the text report and a picture of the window on the clipboard.
#pragma once

#include <QMargins>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "core/AttributeRows.h"
#include "ui/SecondaryForm.h"

class QLabel;
class QGroupBox;
class QRadioButton;
class QToolButton;

namespace dv {

class StringGrid;

class TSMARTForm : public TSecondaryForm {
  Q_OBJECT
 public:
  explicit TSMARTForm(QWidget* parent = nullptr);

  // Row 0: the headings, written once at start-up.
  void WriteHeadings();
  // Rewrites rows 1.. from a fresh read and sizes grid and window to hold them all.
  void ShowRows(const std::vector<AttributeRow>& rows);
  // The rows as the grid shows them now (headings excluded), for the report.
  std::vector<AttributeRow> Rows() const;
  RawPresentation Presentation() const;
  // The item index of RAWValuesRG: 0 HEX, 1 DEC.
  int RawValuesIndex() const;
  // The attribute IDs whose rows are framed as the cause of a caution; empty for none.
  void MarkCautionRows(std::set<uint8_t> ids);
  const std::set<uint8_t>& CautionRows() const { return cautionRows_; }
  // A line below the table about what it cannot show (an NVMe drive read without privilege);
  // empty text takes it away.
  void ShowNote(const QString& text);

  // Set by the main window: the read of the selected drive, the report, and whether the program
  // is exiting (then closing really closes).
  std::function<void()> onReadRequested;
  std::function<void()> onSaveRequested;

  // Handlers.
  void ReadSMARTSBClick();
  void RAWValuesRGClick();
  void SaveSMARTSBClick();
  void CopySMARTWindowSBClick();
  void SMARTSGDrawCell(QPainter& painter, int column, int row, const QRect& rect, bool selected);
  // The window with its frame and caption; the client area alone where the platform cannot give
  // the frame. Returns whether a picture reached the clipboard.
  bool CaptureWindow();
  // The picture CaptureWindow puts on the clipboard.
  QImage WindowPicture();

  // Controls.
  StringGrid* SMARTSG;
  QToolButton* ReadSMARTSB;
  QToolButton* SaveSMARTSB;
  QLabel* SMARTNL;
  QLabel* SMARTStatusL;
  QGroupBox* RAWValuesRG;
  QRadioButton* RAWValuesHex;
  QRadioButton* RAWValuesDec;
  QToolButton* CopySMARTWindowSB;
  QLabel* NoteL;  // hidden unless ShowNote gave it a text

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void FitToRows();
  void CentreOnScreen();
  bool IsCautionRow(int row) const;

  std::set<uint8_t> cautionRows_;
  // The frame and caption the window manager put around the shown window; none before it has.
  QMargins ReportedFrame() const;
  // The window with its frame on the screen: the client area and the reported frame, the widget's
  // own (possibly old) frame geometry until one is reported.
  QRect OuterGeometry() const;
  int ExpectedFrameHeight();
  void RefitWhenFramed();

  int fittedFrameHeight_ = 0;  // the frame height the last fit took off the client area
  int lastFrameHeight_ = 0;    // the frame height the manager last gave this window
  QTimer framePoll_;
  int framePolls_ = 0;
};

}  // namespace dv
