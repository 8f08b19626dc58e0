// The package's unit-level state, its initialization and finalization, and EscolheSistema.
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>
#include <memory>

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
  // Where the application cannot place its windows (Wayland), the compositor does: a kiosk
  // compositor fills the display with a window that stands above none and centres a window
  // over the one it stands above. A black backdrop is the first, so that the 800x600 screen,
  // the questions and the progress window are centred as they are elsewhere.
  std::unique_ptr<QWidget> backdrop;
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    backdrop = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
    // A palette, not a style sheet: windows above the backdrop do not take its palette.
    QPalette black = backdrop->palette();
    black.setColor(QPalette::Window, Qt::black);
    backdrop->setPalette(black);
    backdrop->setAutoFillBackground(true);
    backdrop->showFullScreen();
  }
  struct FreeForm {
    ~FreeForm() {
      delete frmEscolheSistema;
      frmEscolheSistema = nullptr;
    }
  } free_form;
  frmEscolheSistema = new TfrmEscolheSistema(services, backdrop.get());
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
