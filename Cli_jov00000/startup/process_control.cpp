#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

bool TfrmEscolheSistema::ProcessoRodando(const std::string& name) {
  return jov::IsProcessRunning(services_.processes, name);
}

void TfrmEscolheSistema::FinalizaProcesso(const std::string& name) {
  jov::TerminateProcesses(services_.processes, name);
}

}  // namespace Cli_jov00000
