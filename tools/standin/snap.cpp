// Saves what the X display shows as a PNG picture: jov-snap FILE.png. Exits 0 when written,
// 1 when the display cannot be read or the file written, 2 on wrong arguments.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: jov-snap FILE.png\n", stderr);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fputs("jov-snap: no screen\n", stderr);
    return 1;
  }
  const QPixmap picture = screen->grabWindow(0);
  if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "jov-snap: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
