#include "ui/SMARTFormUnit.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QWindow>
#include <algorithm>

#include "app/HealthColors.h"
#include "ui/ColorSwatch.h"
#include "ui/Controls.h"
#include "ui/StringGrid.h"

namespace dv {

namespace {

constexpr int kSmartClientWidth = 487;
constexpr int kClientHeightAtCreation = 94;
constexpr int kGridLeft = 2;
constexpr int kGridTop = 36;
constexpr int kGridWidth = 479;
// The window is this much taller than the grid's rows (grid top, border and frame).
constexpr int kWindowExtra = 80;
constexpr int kGridFrame = 4;    // the grid's sunken frame, top and bottom
constexpr int kNoteHeight = 30;  // room for two lines below the grid
// How often and how long a shown window looks for the frame the manager gave it.
constexpr int kFramePollInterval = 50;
constexpr int kFramePolls = 40;

const QColor kSelectedBack(135, 206, 250);
constexpr int kCautionFrameWidth = 2;
const QColor kBelowThresholdBack(255, 192, 203);
const QColor kAboveThresholdBack(144, 238, 144);

}  // namespace

TSMARTForm::TSMARTForm(QWidget* parent) : TSecondaryForm(parent) {
  setWindowTitle("S.M.A.R.T.");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kSmartClientWidth, kClientHeightAtCreation);
  CentreOnScreen();
  // The layout is drawn for a small 11-pixel face.
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);

  SMARTSG = new StringGrid({167, 23, 33, 86, 53, 48, 40}, 15, this);
  SMARTSG->setGeometry(kGridLeft, kGridTop, kGridWidth, 50);
  // The column widths are fixed; a slightly smaller face lets the headings fit them.
  QFont gridFont = font();
  gridFont.setPixelSize(10);
  SMARTSG->setFont(gridFont);
  SMARTSG->onDrawCell = [this](QPainter& painter, int column, int row, const QRect& rect,
                               bool selected) {
    SMARTSGDrawCell(painter, column, row, rect, selected);
  };

  ReadSMARTSB =
      MakeSpeedButton(this, QStyle::SP_BrowserReload, "Read S.M.A.R.T.", QRect(408, 4, 23, 22));
  CopySMARTWindowSB = MakeSpeedButton(this, QStyle::SP_FileDialogContentsView,
                                      "Capture window to clipboard", QRect(432, 4, 23, 22));
  SaveSMARTSB = MakeSpeedButton(this, QStyle::SP_DialogSaveButton, "Save S.M.A.R.T. Report",
                                QRect(456, 4, 23, 22));
  SMARTNL = new QLabel("S.M.A.R.T.:", this);
  SMARTNL->move(4, 8);
  SMARTStatusL = new QLabel("...", this);
  SMARTStatusL->setGeometry(68, 8, 120, 16);
  SMARTStatusL->setStyleSheet("color: blue");

  RAWValuesRG = new QGroupBox("RAW Values", this);
  RAWValuesRG->setGeometry(296, 0, 109, 33);
  RAWValuesRG->setFont(gridFont);
  RAWValuesHex = new QRadioButton("HEX", RAWValuesRG);
  RAWValuesDec = new QRadioButton("DEC", RAWValuesRG);
  auto* rawLayout = new QHBoxLayout(RAWValuesRG);
  rawLayout->setContentsMargins(4, 0, 4, 0);
  rawLayout->addWidget(RAWValuesHex);
  rawLayout->addWidget(RAWValuesDec);
  RAWValuesHex->setChecked(true);

  NoteL = new QLabel(this);
  NoteL->setWordWrap(true);
  NoteL->setStyleSheet("color: blue");
  NoteL->hide();
  framePoll_.setInterval(kFramePollInterval);
  connect(&framePoll_, &QTimer::timeout, this, [this] {
    RefitWhenFramed();
    if (++framePolls_ >= kFramePolls || !isVisible()) framePoll_.stop();
  });

  connect(ReadSMARTSB, &QToolButton::clicked, this, &TSMARTForm::ReadSMARTSBClick);
  connect(SaveSMARTSB, &QToolButton::clicked, this, &TSMARTForm::SaveSMARTSBClick);
  connect(CopySMARTWindowSB, &QToolButton::clicked, this, &TSMARTForm::CopySMARTWindowSBClick);
  // Only the button that becomes checked reports, so one change is one re-read.
  connect(RAWValuesHex, &QRadioButton::toggled, this, [this](bool on) {
    if (on) RAWValuesRGClick();
  });
  connect(RAWValuesDec, &QRadioButton::toggled, this, [this](bool on) {
    if (on) RAWValuesRGClick();
  });
}

void TSMARTForm::WriteHeadings() {
  const AttributeRow& headings = AttributeRowHeadings();
  for (size_t column = 0; column < headings.size(); ++column) {
    SMARTSG->SetCell(static_cast<int>(column), 0, QString::fromStdString(headings[column]));
  }
}

void TSMARTForm::ShowRows(const std::vector<AttributeRow>& rows) {
  SMARTSG->SetRowCount(static_cast<int>(rows.size()) + 1);
  for (size_t row = 0; row < rows.size(); ++row) {
    for (size_t column = 0; column < kAttributeColumnCount; ++column) {
      SMARTSG->SetCell(static_cast<int>(column), static_cast<int>(row) + 1,
                       QString::fromStdString(rows[row][column]));
    }
  }
  FitToRows();
}

std::vector<AttributeRow> TSMARTForm::Rows() const {
  std::vector<AttributeRow> rows;
  for (int row = 1; row < SMARTSG->RowCount(); ++row) {
    AttributeRow cells;
    for (size_t column = 0; column < kAttributeColumnCount; ++column) {
      cells[column] = SMARTSG->Cell(static_cast<int>(column), row).toStdString();
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

RawPresentation TSMARTForm::Presentation() const {
  return RAWValuesDec->isChecked() ? RawPresentation::Dec : RawPresentation::Hex;
}

int TSMARTForm::RawValuesIndex() const { return RAWValuesDec->isChecked() ? 1 : 0; }

void TSMARTForm::ShowNote(const QString& text) {
  if (text == NoteL->text() && text.isEmpty() == NoteL->isHidden()) return;
  NoteL->setText(text);
  NoteL->setHidden(text.isEmpty());
  FitToRows();
}

void TSMARTForm::FitToRows() {
  // Every row gets its height and its line; the grid then needs no scrolling. The window's outer
  // height is what is fixed, so the frame and caption come off the client area.
  const int gridHeight = SMARTSG->FullHeight();  // the rows and their lines, plus the frame
  SMARTSG->resize(kGridWidth, gridHeight);
  int noteHeight = 0;
  if (!NoteL->isHidden()) {
    noteHeight = kNoteHeight;
    NoteL->setGeometry(kGridLeft + 2, kGridTop + gridHeight + 2, kGridWidth - 4, kNoteHeight - 2);
  }
  fittedFrameHeight_ = ExpectedFrameHeight();
  setFixedSize(kSmartClientWidth,
               gridHeight - kGridFrame + kWindowExtra + noteHeight - fittedFrameHeight_);
}

QMargins TSMARTForm::ReportedFrame() const {
  // From the platform window, which asks the window manager again when the frame changes; the
  // widget's own frame geometry keeps an old answer until the window next moves or resizes.
  const QWindow* window = windowHandle();
  return isVisible() && window != nullptr ? window->frameMargins() : QMargins();
}

QRect TSMARTForm::OuterGeometry() const {
  const QMargins margins = ReportedFrame();
  return margins.isNull() ? frameGeometry() : geometry().marginsAdded(margins);
}

int TSMARTForm::ExpectedFrameHeight() {
  if (!isVisible()) return 0;
  const QMargins reported = ReportedFrame();
  if (!reported.isNull()) {
    lastFrameHeight_ = reported.top() + reported.bottom();
    return lastFrameHeight_;
  }
  // Shown but not framed yet (the manager frames a window a moment after it is mapped): the frame
  // this window had before, else that of another of the program's windows on the screen. Counting
  // no frame here would leave the window a frame too tall.
  if (lastFrameHeight_ > 0) return lastFrameHeight_;
  for (const QWidget* window : QApplication::topLevelWidgets()) {
    if (window == this || !window->isVisible() || window->windowHandle() == nullptr) continue;
    const QMargins frame = window->windowHandle()->frameMargins();
    if (!frame.isNull()) return frame.top() + frame.bottom();
  }
  return 0;
}

void TSMARTForm::RefitWhenFramed() {
  if (!isVisible()) return;
  const QMargins reported = ReportedFrame();
  if (reported.isNull() || reported.top() + reported.bottom() == fittedFrameHeight_) return;
  // The manager framed the window otherwise than the fit assumed: fit again and centre at the
  // real outer size.
  FitToRows();
  CentreOnScreen();
}

bool TSMARTForm::event(QEvent* event) {
  const bool handled = TSecondaryForm::event(event);
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowActivate:
      RefitWhenFramed();
      break;
    default:
      break;
  }
  return handled;
}

void TSMARTForm::CentreOnScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect available = screen->availableGeometry();
  QRect frame = OuterGeometry();
  frame.moveCenter(available.center());
  // A table taller than the screen keeps its caption reachable.
  move(frame.left(), std::max(frame.top(), available.top()));
}

void TSMARTForm::showEvent(QShowEvent* event) {
  TSecondaryForm::showEvent(event);
  FitToRows();
  // Centred at the size the table gives it, not at the 94-pixel size it was made with: grown
  // downward from there, a long table would run off the bottom of the screen.
  CentreOnScreen();
  // Not every manager moves, resizes or activates a window once it has framed it; look again a
  // few times in the first seconds.
  framePolls_ = 0;
  framePoll_.start();
}

void TSMARTForm::ReadSMARTSBClick() {
  if (onReadRequested) onReadRequested();
}

void TSMARTForm::RAWValuesRGClick() {
  if (onReadRequested) onReadRequested();
}

void TSMARTForm::SaveSMARTSBClick() {
  if (onSaveRequested) onSaveRequested();
}

void TSMARTForm::CopySMARTWindowSBClick() { CaptureWindow(); }

void TSMARTForm::SMARTSGDrawCell(QPainter& painter, int column, int row, const QRect& rect,
                                 bool selected) {
  QColor back = row == 0 ? palette().color(QPalette::Button) : palette().color(QPalette::Base);
  if (selected) {
    back = kSelectedBack;
  } else if (row > 0) {
    AttributeRow cells;
    cells[kColumnAttr] = SMARTSG->Cell(kColumnAttr, row).toStdString();
    cells[kColumnThreshold] = SMARTSG->Cell(kColumnThreshold, row).toStdString();
    cells[kColumnFlags] = SMARTSG->Cell(kColumnFlags, row).toStdString();
    switch (RowPreFailureState(cells)) {
      case PreFailureState::BelowThreshold:
        back = kBelowThresholdBack;
        break;
      case PreFailureState::AtOrAboveThreshold:
        back = kAboveThresholdBack;
        break;
      case PreFailureState::NotPreFailure:
        // NVMe health rows carry no flags; one whose rule failed is marked as a failed attribute.
        if (cells[kColumnFlags].empty() &&
            SMARTSG->Cell(kColumnStatus, row).toStdString() == kStatusFailed) {
          back = kBelowThresholdBack;
        }
        break;
    }
  }
  painter.fillRect(rect, back);
  if (IsCautionRow(row)) {
    // The frame around a row whose counter rose, in the colour of the caution icon.
    const QColor frame = ColorFromBgr(HealthColor(Health::Caution));
    // Top and bottom edge in every cell, the outer edges in the first and last: one frame.
    const int w = kCautionFrameWidth;
    painter.fillRect(rect.x(), rect.y(), rect.width(), w, frame);
    painter.fillRect(rect.x(), rect.bottom() - w + 1, rect.width(), w, frame);
    if (column == 0) painter.fillRect(rect.x(), rect.y(), w, rect.height(), frame);
    if (column == SMARTSG->ColumnCount() - 1) {
      painter.fillRect(rect.right() - w + 1, rect.y(), w, rect.height(), frame);
    }
  }
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                   SMARTSG->Cell(column, row));
}

void TSMARTForm::MarkCautionRows(std::set<uint8_t> ids) {
  if (ids == cautionRows_) return;
  cautionRows_ = std::move(ids);
  SMARTSG->viewport()->update();
}

// The Name cell starts with the ID in hex: "(C5h) Current Pending Sector Count".
bool TSMARTForm::IsCautionRow(int row) const {
  if (row == 0 || cautionRows_.empty()) return false;
  const QString name = SMARTSG->Cell(kColumnName, row);
  if (name.size() < 5 || name[0] != '(' || name[3] != 'h') return false;
  bool ok = false;
  const uint id = name.mid(1, 2).toUInt(&ok, 16);
  return ok && cautionRows_.count(static_cast<uint8_t>(id)) != 0;
}

QImage TSMARTForm::WindowPicture() {
  // The window manager knows where the frame is; the screen holds its pixels. Offscreen and on
  // Wayland there is no readable screen, so the client area drawn by ourselves stands in.
  QScreen* screen = windowHandle() != nullptr ? windowHandle()->screen() : nullptr;
  const QRect frame = OuterGeometry();
  if (screen != nullptr && isVisible() && frame != geometry()) {
    const QPixmap shot =
        screen->grabWindow(0, frame.x() - screen->geometry().x(),
                           frame.y() - screen->geometry().y(), frame.width(), frame.height());
    if (!shot.isNull() && shot.size() == frame.size()) return shot.toImage();
  }
  return grab().toImage();
}

bool TSMARTForm::CaptureWindow() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const QImage picture = WindowPicture();
  const bool captured = !picture.isNull();
  if (captured) QApplication::clipboard()->setImage(picture);
  QApplication::restoreOverrideCursor();
  return captured;
}

}  // namespace dv
