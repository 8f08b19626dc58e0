// Entering the point-of-sale system, and the form's two buttons for it.
#include "Cli_jov00000/startup/entrar.h"

#include <exception>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "platform/cp1252.h"
#include "platform/errors.h"

namespace Cli_jov00000 {

namespace {

using Mensagemjov::TTipoMsg;

// Every message of this operation goes out with the same arguments but for kind and "ask".
bool Mostra(const EntradaServicos& services, const std::string& key, const std::string& ask,
            TTipoMsg kind) {
  return services.mensagem(services.catalogue.Msg(key), "", "N", ask, kind, "", "", 0, nullptr);
}

void Reinicia(const EntradaServicos& services, const EntradaEstado& state) {
  if (jov::IsProcessRunning(services.processes, "JovBpl.exe")) {
    Mostra(services, "Aguardar_Atualizacao", "N", Mensagemjov::tmAviso);
    return;
  }
  Mostra(services, "Reiniciar", "N", Mensagemjov::tmAviso);
  try {
    const std::string parameters = "2_" + state.nomeExe + "_";
    services.log("ShellExecute(" + parameters);
    services.programs.ShellExecute(state.program_dir + "/JovBpl.exe", parameters);
    services.log("----- Fim ExecutaJovBpl -----");
  } catch (const std::exception&) {
    services.log("Erro no reinicio automático."_w);
  }
}

}  // namespace

void EntraNoSistema(const EntradaServicos& services, const EntradaEstado& state) {
  if (state.boReinicia) {
    Reinicia(services, state);
    return;
  }
  if (state.boAtuBpl && jov::IsProcessRunning(services.processes, "JovBpl.exe")) {
    if (!Mostra(services, "Msg_JovBpl", "S", Mensagemjov::tmPergunta)) throw jov::Abort();
    services.programs.WinExec("TASKKILL /F /IM JovBpl.exe");
  }
  if (state.idUtilAberAuto == "N" && jov::IsProcessRunning(services.processes, "JovTab.exe")) {
    if (state.idPerAcessoTer == "S") {
      Mostra(services, "Tab_Bloq", "N", Mensagemjov::tmRecusa);
      return;
    }
    if (!Mostra(services, "JovTab", "S", Mensagemjov::tmPergunta)) throw jov::Abort();
    services.programs.WinExec("TASKKILL /F /IM JovTab.exe");
  }
  try {
    services.modules.Load(kPontoDeVenda, false);
  } catch (...) {
    services.modules.Unload(kPontoDeVenda);
    throw;
  }
  services.modules.Unload(kPontoDeVenda);
}

void TfrmEscolheSistema::sbtEnterClick(QObject*) {
  // Whatever the package did, the launcher's screen is in front again once it returns.
  struct BackInFront {
    QWidget& form;
    ~BackInFront() {
      if (!form.isVisible()) return;
      form.raise();
      form.activateWindow();
    }
  } back_in_front{*this};
  const EntradaServicos services{services_.processes,
                                 services_.programs,
                                 services_.modules,
                                 *msgPadrao,
                                 Mensagemjov::MensagemCom(services_.dialogs),
                                 [this](const std::string& text) { Log(text); }};
  EntraNoSistema(services, {boAtuBpl, boReinicia, idUtilAberAuto, idPerAcessoTer, nomeExe, DirJov});
}

void TfrmEscolheSistema::sbtIniciarClick(QObject*) { services_.modules.Load(kPontoDeVenda, true); }

}  // namespace Cli_jov00000
