// Branch and register parameters (built in a later step).
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::PreencheParametros() {}

}  // namespace Cli_jov00000
