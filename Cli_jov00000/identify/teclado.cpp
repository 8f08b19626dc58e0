// The on-screen keyboard.
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::ChamaTeclado(const std::string&, int, bool) {}
void TfrmEscolheSistema::sbt1Click(QObject*) {}
void TfrmEscolheSistema::sbtCCdilClick(QObject*) {}
void TfrmEscolheSistema::FormKeyPress(QObject*, char&) {}
void TfrmEscolheSistema::FormKeyDown(QObject*, std::uint16_t&, int) {}
void TfrmEscolheSistema::sbtCorrigirClick(QObject*) {}
void TfrmEscolheSistema::sbtConfirmaClick(QObject*) {}
void TfrmEscolheSistema::sbtSairClick(QObject*) {}

}  // namespace Cli_jov00000
