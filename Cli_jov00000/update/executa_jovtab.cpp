// Local table update (built in a later step).
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::ExecutaJovTab(bool) {}
void TfrmEscolheSistema::sbtJovTabClick(QObject*) { ExecutaJovTab(true); }

}  // namespace Cli_jov00000
