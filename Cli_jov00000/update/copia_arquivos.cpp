// Installing staged files.
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::CopiaArquivos() {}

}  // namespace Cli_jov00000
