// The yardstick: a Qt Widgets program that starts, shows one window and ends.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.resize(491, 392);
  window.show();
  QApplication::processEvents();
  return 0;
}
