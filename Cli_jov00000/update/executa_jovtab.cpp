// The local table update, and the button "Atualizar &Tabelas".
#include "Cli_jov00000/update/executa_jovtab.h"

#include <exception>

#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

std::string ParametroJovTab(const std::string& filial, const std::string& caixa, bool atualiza) {
  return "TABELAS_" + filial + "_" + caixa + "_" + (atualiza ? "ATU_" : "NATU_");
}

void AtualizaTabelas(const TabelasServicos& services, const std::string& program_dir,
                     const std::string& parameters, const std::string& idUtilAberAuto) {
  try {
    if (idUtilAberAuto == "N") {
      services.mensagem(services.catalogue.Msg("Msg_JovTab"), "", "N", "N", Mensagemjov::tmAviso,
                        "", "", 0, nullptr);
    }
    services.programs.ShellExecute(program_dir + "/JovTab.exe", parameters);
    if (idUtilAberAuto != "S") return;
    services.programs.ShellExecute(program_dir + "/JovBpl.exe", "1_");
    services.clock.Sleep(kPrimeiraPausaMs);
    bool esperando = true;
    while (esperando) {
      if (!jov::IsProcessRunning(services.processes, "JovTab.exe")) {
        esperando = false;
        services.entra();
      }
      services.clock.Sleep(kIntervaloMs);
    }
  } catch (const std::exception& error) {
    services.dialogs.ShowMessage(error.what());
  }
}

void TfrmEscolheSistema::ExecutaJovTab(bool atualiza) {
  paramJovTab = ParametroJovTab(cdFilial, cdCaixa, atualiza);
  const TabelasServicos services{services_.processes,
                                 services_.programs,
                                 services_.clock,
                                 services_.dialogs,
                                 *msgPadrao,
                                 Mensagemjov::MensagemCom(services_.dialogs),
                                 [this] { sbtEnterClick(sbtEnter); }};
  AtualizaTabelas(services, DirJov, paramJovTab, idUtilAberAuto);
}

void TfrmEscolheSistema::sbtJovTabClick(QObject*) { ExecutaJovTab(true); }

}  // namespace Cli_jov00000
