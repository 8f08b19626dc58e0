// The screen-package update command.
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::sbtJovBplClick(QObject*) {}

}  // namespace Cli_jov00000
