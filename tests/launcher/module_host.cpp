// A host for one point-of-sale module, for the module tests: runs it through the client
// library's loader on Qt's offscreen platform, looks at its window and ends it as asked.
// Usage: module_host CODE escape|button|quit
// Prints one line: "shown <label>=<text>;... full=<0|1> | returned left=<windows>", or
// "error: <what the loader threw>", or "no window" (exit code 3) when none came in 10 s.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <string>

#include "clientlib/library_services.h"
#include "platform/errors.h"
#include "platform/host_path_linux.h"

namespace {

QWidget* ShownWindow(const QString& title) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->windowTitle() == title) return widget;
  }
  return nullptr;
}

int VisibleWindows() {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) count += widget->isVisible() ? 1 : 0;
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  QApplication application(argc, argv);
  const std::string code = argv[1];
  const std::string action = argv[2];
  std::string report;

  QElapsedTimer since;
  since.start();
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* window = ShownWindow(QString::fromStdString(code));
    if (window == nullptr) {
      if (since.elapsed() > 10000) {
        std::puts("no window");
        std::fflush(stdout);
        std::_Exit(3);
      }
      return;
    }
    poll.stop();
    report = "shown ";
    for (const QLabel* label : window->findChildren<QLabel*>()) {
      report += label->objectName().toStdString() + "=" + label->text().toStdString() + ";";
    }
    const QScreen* screen = window->screen();
    const bool full = screen != nullptr && window->geometry() == screen->geometry();
    report += std::string(" full=") + (full ? "1" : "0");
    if (!full) {
      const QRect g = window->geometry();
      report += " at " + std::to_string(g.x()) + "," + std::to_string(g.y()) + " " +
                std::to_string(g.width()) + "x" + std::to_string(g.height());
    }
    if (action == "escape") {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(window, &press);
    } else if (action == "button") {
      for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) button->click();
    } else {
      QCoreApplication::exit(0);
    }
  });
  poll.start();

  jov::ModuleLoaderReal loader(jov::DirectoryOf(jov::HostPathLinux().ExecutablePath()));
  try {
    loader.Load(code, false);
    report += " | returned";
  } catch (const jov::Error& error) {
    report = std::string("error: ") + error.what();
  }
  loader.Unload(code);
  report += " left=" + std::to_string(VisibleWindows());
  std::puts(report.c_str());
  return 0;
}
