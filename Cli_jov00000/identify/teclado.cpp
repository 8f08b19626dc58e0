// The on-screen keyboard.
#include <QKeyEvent>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "platform/cp1252.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::ChamaTeclado(const std::string&, int, bool) {}
void TfrmEscolheSistema::sbt1Click(QObject*) {}
void TfrmEscolheSistema::sbtCCdilClick(QObject*) {}
void TfrmEscolheSistema::FormKeyPress(QObject*, char&) {}
void TfrmEscolheSistema::FormKeyDown(QObject*, std::uint16_t&, int) {}
void TfrmEscolheSistema::sbtCorrigirClick(QObject*) {}
void TfrmEscolheSistema::sbtConfirmaClick(QObject*) {}
void TfrmEscolheSistema::sbtSairClick(QObject*) {}

void TfrmEscolheSistema::keyPressEvent(QKeyEvent* e) {
  // The form sees every key first; Escape and Enter never close it.
  RunHandler([this, e] {
    std::uint16_t key = 0;
    switch (e->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        key = 13;
        break;
      case Qt::Key_Backspace:
        key = 8;
        break;
      default:
        key = static_cast<std::uint16_t>(e->nativeVirtualKey());
        break;
    }
    FormKeyDown(this, key, static_cast<int>(e->modifiers()));
    const std::string typed = jov::cp1252::FromQString(e->text());
    if (typed.size() == 1) {
      char c = typed[0];
      FormKeyPress(this, c);
    }
  });
  e->accept();
}

}  // namespace Cli_jov00000
