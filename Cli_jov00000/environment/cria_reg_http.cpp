// Server connection settings and the HTTP settings kept in the registry.
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::criaRegHTTP() {}
void TfrmEscolheSistema::netLocalCacheBeforeConnect(QObject*) {}
void TfrmEscolheSistema::adcBaixaDadosBeforeConnect(QObject*) {}
void TfrmEscolheSistema::adcBaixaDadosAfterConnect(QObject*) {}

}  // namespace Cli_jov00000
