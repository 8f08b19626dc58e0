// The least a Qt Widgets program does to show a screen: an 800x600 window. Once the window has
// been shown and the event loop has run, writes "shown" to the file named by its argument, so
// that the start-up benchmark can time it beside the launcher. A second argument names a
// library to load first (the launcher's client library), to tell what the libraries cost from
// what the launcher does. Runs until it gets SIGTERM.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
  if (argc > 2 && ::dlopen(argv[2], RTLD_NOW | RTLD_LOCAL) == nullptr) return 1;
  QApplication app(argc, argv);
  ::signal(SIGTERM, [](int) { _exit(0); });
  QWidget window;
  window.setWindowTitle(QStringLiteral("bare-window"));
  window.resize(800, 600);
  window.show();
  const QString marker = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  QTimer::singleShot(0, [&] {
    QFile file(marker);
    if (file.open(QIODevice::WriteOnly)) file.write("shown\n");
  });
  return app.exec();
}
