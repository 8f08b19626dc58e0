// Executable and package update from the server (built in a later step).
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::BaixaJovBplExe() {}
void TfrmEscolheSistema::BuscaDtExe(const std::string&) {}

}  // namespace Cli_jov00000
