#include "clientlib/dialogs_qt.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

#include "platform/cp1252.h"

namespace jov {
namespace {

constexpr const char* kStyle =
    "QMessageBox { background: white; font: 15px 'Arial'; }"
    "QPushButton { min-width: 110px; min-height: 40px; border-radius: 8px; color: white;"
    " background: #808080; font: bold 15px 'Arial'; }"
    "QPushButton:default { background: #22DD64; }"
    "QPushButton:pressed { background: black; }";

// Enter answers the default button; Escape the escape button.
int Run(QMessageBox::Icon icon, const std::string& text, bool yes_no) {
  QMessageBox box(icon, QStringLiteral("Jov"), cp1252::ToQString(text), QMessageBox::NoButton,
                  WindowToStandAbove());
  box.setWindowFlag(Qt::FramelessWindowHint);
  box.setStyleSheet(kStyle);
  if (yes_no) {
    QPushButton* yes = box.addButton(QStringLiteral("Sim"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Não"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? 1 : 0;
  }
  QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.exec();
  return 1;
}

}  // namespace

bool DialogsQt::Confirm(const std::string& text) {
  return Run(QMessageBox::Question, text, true) == 1;
}

void DialogsQt::Notify(const std::string& text, int kind) {
  Run(kind == 0 ? QMessageBox::Warning : QMessageBox::Information, text, false);
}

void DialogsQt::ShowMessage(const std::string& text) { Run(QMessageBox::NoIcon, text, false); }

void DialogsQt::ShowException(const std::string& text) { Run(QMessageBox::Critical, text, false); }

int EndModalWindowsAbove(const QWidget* keep) {
  int ended = 0;
  const QWidget* last = nullptr;
  while (QWidget* modal = QApplication::activeModalWidget()) {
    // Stop at the window to keep, and at one that refused to go: never loop on it.
    if (modal == keep || modal == last) break;
    last = modal;
    // reject() and not close(): a message box without an escape button ignores close().
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
    ++ended;
  }
  return ended;
}

QWidget* WindowToStandAbove() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  const QWidgetList windows = QApplication::topLevelWidgets();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if ((*it)->isVisible()) return *it;
  }
  return nullptr;
}

}  // namespace jov
