// The form's life: creation, first activation, closing and the handler wrapper.
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "Cli_jov00000/update/baixa_exe.h"
#include "clientlib/mensagemjov.h"
#include "clientlib/trad_utl.h"
#include "platform/cp1252.h"
#include "platform/errors.h"

namespace Cli_jov00000 {

TfrmEscolheSistema::TfrmEscolheSistema(jov::Services& services, QWidget* owner)
    : QDialog(owner), services_(services) {
  CriaComponentes();
  LigaEventos();
  // Creation errors are shown by the default error display; the form stays up.
  RunHandler([this] { FormCreate(this); });
}

TfrmEscolheSistema::~TfrmEscolheSistema() = default;

void TfrmEscolheSistema::FormCreate(QObject*) {
  Trad_utl::Trad(this);
  setFixedSize(800, 600);
  img_no_Flash->setGeometry(rect());  // both fill the client area
  Image1->setGeometry(rect());
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) move(PosicaoNaTela(screen->geometry(), size()));
  services_.taskbar.Hide();
  boAtuExe = true;
  const std::string host_name = jov::FileNameOf(services_.host.ExecutablePath());
  img_no_Flash->setPixmap(
      FiguraDe(jov::cp1252::UpperAscii(host_name) == "TRV.EXE" ? imgAberturaTRV : imgAberturaJov));
  lblCodTela->setText(
      jov::cp1252::ToQString(Mensagemjov::MontaRodapeGeral(false, "JOV00000", "N")));
  lblCodTela->adjustSize();
  nomeExe = host_name;
  // A mistyped setting or an unusable folder, where the support technician looks first.
  for (const std::string& problema : services_.library.StartProblems()) Log(problema);
  boServerAtivo = TestePing();
  if (boServerAtivo) criaRegHTTP();
  CopiaArquivos();
  IniciaSistema();
}

void TfrmEscolheSistema::IniciaSistema() {
  boReinicia = false;
  // Whether or not the server answers, nothing an update cut short left stays behind.
  std::string program_dir = jov::DirectoryOf(services_.host.ExecutablePath());
  if (!program_dir.ends_with('/')) program_dir += '/';
  RemoveUpdateTemporaries(services_.files, program_dir, services_.library.WorkingDirectory());
  if (boServerAtivo) BaixaJovBplExe();
}

void TfrmEscolheSistema::FormActivate(QObject*) {
  if (boCriaPriVez) return;
  boCriaPriVez = true;
  PreencheParametros();
  // The screen is up and the register's codes are settled: the update's report may go. The
  // report is the chain's concern, not the register's: nothing it throws (a thread that cannot
  // start, memory) may keep the table updater, the permission check or the screen-package
  // updater from starting, nor show the operator a box.
  try {
    EnviaRelatorio();
  } catch (...) {
    // the report is dropped; the register's start goes on as if it had been sent
  }
  ExecutaJovTab(false);
  std::string working = services_.library.WorkingDirectory();
  if (!working.empty()) working.pop_back();
  const std::string drive_c = services_.library.DriveC();
  const std::string folders[] = {working, drive_c + "Program Files/Calvora Web",
                                 drive_c + "Program Files (x86)/Calvora Web"};
  bool permitted = true;
  for (const std::string& folder : folders) {
    if (!VerificaPermissao(folder)) {
      permitted = false;
      break;
    }
  }
  const std::string host_dir = jov::DirectoryOf(services_.host.ExecutablePath());
  if (!permitted) {
    const std::string repair = host_dir + "/Altera_Permissoes_Calvora.EXE";
    if (services_.files.FileExists(repair) && !ProcessoRodando("Altera_Permissoes_Calvora.EXE")) {
      services_.programs.ShellExecute(repair, "");
    }
  }
  if (idUtilAberAuto != "S") services_.programs.ShellExecute(host_dir + "/JovBpl.exe", "1_");
}

void TfrmEscolheSistema::FormClose(QObject*, int& Action) {
  // Qt has no application-wide handler slot to clear; the form is freed by EscolheSistema.
  Action = 0;
}

void TfrmEscolheSistema::sbtCancelarClick(QObject*) { close(); }

void TfrmEscolheSistema::RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const jov::Abort&) {
    // the silent abort ends the handler without a message
  } catch (const std::exception& error) {
    services_.dialogs.ShowException(error.what());
  }
}

bool TfrmEscolheSistema::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) AgendaAtivacao();
  return QDialog::event(e);
}

void TfrmEscolheSistema::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // Where no window manager ever activates a window, the first showing counts as activation.
  AgendaAtivacao();
}

void TfrmEscolheSistema::AgendaAtivacao() {
  // Runs once the event that activated the form is done, as an event handler of its own.
  if (boCriaPriVez || activation_pending_) return;
  activation_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    activation_pending_ = false;
    RunHandler([this] { FormActivate(this); });
  });
}

void TfrmEscolheSistema::closeEvent(QCloseEvent* e) {
  int action = 0;
  FormClose(this, action);
  QDialog::closeEvent(e);
}

}  // namespace Cli_jov00000
