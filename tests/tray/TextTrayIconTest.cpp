// The text icon's picture, pixel by pixel: frame ring, fill, the key colour, transparency, the
// placement rule (centring constant 15, truncating division, the line step) and clipping.
#include <QFontMetrics>
#include <QPainter>
#include <QtTest>

#include "kit/FakeNotificationArea.h"
#include "kit/QtTestMain.h"
#include "tray/TextTrayIcon.h"

using namespace dv;

namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kLime = qRgb(0, 255, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kRed = qRgb(255, 0, 0);

TextIconLook ProgramLook(const QString& text) {
  TextIconLook look;
  look.text = text;
  look.font = SmallIconFont();
  look.fontColor = kClYellow;
  look.color = kClBlack;
  look.border = true;
  look.borderColor = kClLime;
  return look;
}

QRgb Opaque(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xFF000000; }

bool RingIs(const QImage& image, QRgb color) {
  for (int i = 0; i < 16; ++i) {
    for (QPoint p : {QPoint(i, 0), QPoint(i, 15), QPoint(0, i), QPoint(15, i)}) {
      if (image.pixel(p) != color) return false;
    }
  }
  return true;
}

int CountInterior(const QImage& image, QRgb color) {
  int count = 0;
  for (int y = 1; y < 15; ++y) {
    for (int x = 1; x < 15; ++x) count += image.pixel(x, y) == color ? 1 : 0;
  }
  return count;
}

// Halving that rounds toward zero, written out so the test does not lean on the code's operator.
int HalfTowardZero(int value) { return value < 0 ? -((-value) / 2) : value / 2; }

// What the rule says the bitmap must be: lines placed at the given tops and centred left edges.
QImage Reference(const TextIconLook& look, int firstTop, int step) {
  QImage image(16, 16, QImage::Format_RGB32);
  image.fill(ToQColor(look.color));
  QPainter painter(&image);
  painter.setFont(look.font);
  painter.setPen(ToQColor(look.fontColor));
  const QFontMetrics metrics = painter.fontMetrics();
  const QStringList lines = look.text.split('\r');
  for (int i = 0; i < lines.size(); ++i) {
    const int left = HalfTowardZero(15 - metrics.horizontalAdvance(lines[i])) + look.offsetX;
    painter.drawText(left, firstTop + i * step + metrics.ascent(), lines[i]);
  }
  return image;
}

}  // namespace

class TextTrayIconTest : public QObject {
  Q_OBJECT
 private slots:
  void programLookIsAnOpaqueBlackSquareInALimeRing() {
    const RenderedIcon icon = RenderTextIcon(ProgramLook("42"));
    QCOMPARE(icon.picture.size(), QSize(16, 16));
    QVERIFY(RingIs(icon.picture, kLime | 0u));
    QCOMPARE(icon.keyColor, kClNone);
    int yellow = 0;
    for (int y = 1; y < 15; ++y) {
      for (int x = 1; x < 15; ++x) {
        const QRgb pixel = icon.picture.pixel(x, y);
        QVERIFY2(pixel == kBlack || pixel == kYellow, "only the two colours, no smoothing");
        yellow += pixel == kYellow ? 1 : 0;
      }
    }
    QVERIFY(yellow > 10);
  }

  void singleLinesArePlacedByTheRule_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("offsetX");
    QTest::addColumn<int>("offsetY");
    QTest::newRow("two digits") << "42" << 0 << 0;
    QTest::newRow("one digit") << "0" << 0 << 0;
    QTest::newRow("three digits overflow") << "100" << 0 << 0;
    QTest::newRow("four digits overflow") << "1000" << 0 << 0;
    QTest::newRow("offsets") << "37" << 2 << -1;
  }
  void singleLinesArePlacedByTheRule() {
    QFETCH(QString, text);
    QFETCH(int, offsetX);
    QFETCH(int, offsetY);
    TextIconLook look = ProgramLook(text);
    look.border = false;
    look.offsetX = offsetX;
    look.offsetY = offsetY;
    const QFontMetrics metrics(look.font);
    const int top = HalfTowardZero(15 - metrics.height()) + offsetY;
    QCOMPARE(PaintText(look).bitmap, Reference(look, top, 0));
  }

  void twoLinesAreCentredAsABlockWithTruncation() {
    for (int lineDistance : {0, 1, -4}) {
      TextIconLook look = ProgramLook("4\r2");
      look.border = false;
      look.lineDistance = lineDistance;
      const int step = QFontMetrics(look.font).height() + lineDistance;
      const int firstTop = HalfTowardZero(15 - 2 * step);
      QCOMPARE(PaintText(look).bitmap, Reference(look, firstTop, step));
    }
    // A trailing return gives an empty last line, which still takes its step.
    TextIconLook trailing = ProgramLook("5\r");
    trailing.border = false;
    const int step = QFontMetrics(trailing.font).height();
    QCOMPARE(PaintText(trailing).bitmap, Reference(trailing, HalfTowardZero(15 - 2 * step), step));
  }

  void wideTextIsClippedAtTheEdges() {
    for (const QString text : {"100", "1000"}) {
      TextIconLook look = ProgramLook(text);
      look.border = false;
      const QImage bitmap = PaintText(look).bitmap;
      bool leftEdge = false;
      bool rightEdge = false;
      for (int y = 0; y < 16; ++y) {
        leftEdge |= bitmap.pixel(0, y) == kYellow || bitmap.pixel(1, y) == kYellow;
        rightEdge |= bitmap.pixel(15, y) == kYellow || bitmap.pixel(14, y) == kYellow;
      }
      QVERIFY2(leftEdge && rightEdge, qPrintable(text));
    }
  }

  void backgroundEqualToTheFontColourIsInverted() {
    TextIconLook look = ProgramLook("42");
    look.color = kClYellow;
    look.border = false;
    const RenderedIcon icon = RenderTextIcon(look);
    QCOMPARE(PaintText(look).keyColor, 0x00FF0000u);  // yellow 0x00FFFF inverted: blue
    QCOMPARE(icon.picture.pixel(0, 0), kBlue);
    QVERIFY(CountInterior(icon.picture, kYellow) > 10);
  }

  void noBackgroundColourIsTransparent() {
    TextIconLook look = ProgramLook("42");
    look.color = kClNone;
    look.border = false;
    const RenderedIcon icon = RenderTextIcon(look);
    QCOMPARE(icon.keyColor, 0x00FF0000u);
    QCOMPARE(qAlpha(icon.picture.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(icon.picture.pixel(15, 15)), 0);
    QVERIFY(CountInterior(icon.picture, kYellow) > 10);
    look.border = true;
    QVERIFY(RingIs(RenderTextIcon(look).picture, kLime));
  }

  void emptyTextIsABlankFramedSquare() {
    const QImage picture = RenderTextIcon(ProgramLook("")).picture;
    QVERIFY(RingIs(picture, kLime));
    QCOMPARE(CountInterior(picture, kBlack), 14 * 14);
  }

  void smartOffShowsDashesInABlueFrame() {
    TextIconLook look = ProgramLook("---");
    look.borderColor = 0x00FF0000;  // blue in 0x00BBGGRR
    const QImage picture = RenderTextIcon(look).picture;
    QVERIFY(RingIs(picture, kBlue));
    QVERIFY(CountInterior(picture, kYellow) >= 3);
  }

  void textLiesOverTheBackgroundIcon() {
    QImage background(16, 16, QImage::Format_ARGB32);
    background.fill(Qt::transparent);
    QPainter(&background).fillRect(0, 0, 8, 16, Qt::red);  // left half red, right half empty
    TextIconLook look = ProgramLook("8");
    look.border = false;
    look.backgroundIcon = background;
    const QImage picture = RenderTextIcon(look).picture;
    QCOMPARE(Opaque(picture, 1, 1), kRed);
    QCOMPARE(qAlpha(picture.pixel(14, 1)), 0);  // mask colour (black) is transparent
    QVERIFY(CountInterior(picture, kYellow) > 5);
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        if (qAlpha(picture.pixel(x, y)) != 0) QVERIFY(picture.pixel(x, y) != kBlack);
      }
    }
  }

  void componentRebuildsOnEffectiveChangesOnly() {
    FakeNotificationArea area;
    TTextTrayIcon icon(area);
    icon.SetFont(SmallIconFont());
    icon.SetFontColor(kClYellow);
    icon.SetColor(kClBlack);
    const int before = icon.RebuildCount();
    icon.Options().SetOffsetX(0);
    QCOMPARE(icon.RebuildCount(), before);
    icon.Options().SetOffsetX(1);
    QCOMPARE(icon.RebuildCount(), before + 1);
    QCOMPARE(icon.KeyColor(), kClNone);
  }

  void borderChangedWhileHiddenShowsOnTheNextAdd() {
    FakeNotificationArea area;
    TTextTrayIcon icon(area);
    icon.SetFont(SmallIconFont());
    icon.SetFontColor(kClYellow);
    icon.SetColor(kClBlack);
    icon.SetBorderColor(0x000000FF);  // red
    icon.SetBorder(true);
    QVERIFY(RingIs(icon.Picture(), kRed));
    QVERIFY(!area.IsShown(icon.Id()));
    icon.SetIconVisible(true);
    const QImage shown =
        area.Shown(icon.Id())->icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(RingIs(shown, kRed));
    icon.SetText("51");
    const QImage updated =
        area.Shown(icon.Id())->icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(updated, icon.Picture());
  }

  void systemColoursResolveThroughThePalette() {
    QCOMPARE(ColorToRgb(0x00123456), 0x00123456u);
    const QColor button = QGuiApplication::palette().color(QPalette::Button);
    QCOMPARE(ToQColor(kClBtnFace), button);
  }
};

DISKVIGIL_QTEST_MAIN(TextTrayIconTest)
#include "TextTrayIconTest.moc"
