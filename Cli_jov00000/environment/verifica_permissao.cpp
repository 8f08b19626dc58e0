// Folder permission check.
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

bool TfrmEscolheSistema::VerificaPermissao(const std::string&) { return true; }

}  // namespace Cli_jov00000
