// Entering the point-of-sale system (built in a later step; the button does nothing yet).
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::sbtEnterClick(QObject*) {}

void TfrmEscolheSistema::sbtIniciarClick(QObject*) {}

}  // namespace Cli_jov00000
