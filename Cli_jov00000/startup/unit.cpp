// The package's unit-level state, its initialization and finalization, and EscolheSistema.
#include <QGuiApplication>
#include <QScreen>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "Cli_jov00000/update/baixa_exe.h"

namespace Cli_jov00000 {

TfrmEscolheSistema* frmEscolheSistema = nullptr;
std::string DirJov;
std::string DirCadJovBpl;
bool boCriaPriVez = false;
bool boAtuExe = false;
bool boServerAtivo = false;
jov::DateTime dtJovTab;
jov::DateTime dtJovexp;
std::vector<std::string> arquivosExe;

void InicializaUnidade(jov::HostPath& host) {
  DirJov = jov::DirectoryOf(host.ExecutablePath());
  DirCadJovBpl = DirJov + "/Dados/Jov_Bpl/";
  arquivosExe = ExecutaveisDoCliente();
}

void FinalizaUnidade() {
  DirJov.clear();
  DirCadJovBpl.clear();
  arquivosExe.clear();
}

bool EscolheSistema(jov::Services& services) {
  if (frmEscolheSistema != nullptr) return true;  // nested call: the outer call owns the form
  struct FreeForm {
    ~FreeForm() {
      delete frmEscolheSistema;
      frmEscolheSistema = nullptr;
    }
  } free_form;
  frmEscolheSistema = new TfrmEscolheSistema(services);
  frmEscolheSistema->exec();
  return true;
}

QPoint PosicaoNaTela(const QRect& screen, const QSize& form) {
  // Integer division truncates toward zero, as the overhang on a small screen needs.
  int left = screen.x() + (screen.width() - form.width()) / 2;
  int top = screen.y() + (screen.height() - form.height()) / 2;
  return {left, top};
}

}  // namespace Cli_jov00000
