// TfrmEscolheSistema: the launcher's one form, its controls, its state and its operations.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Cli_jov00000/data_components.h"
#include "Cli_jov00000/services.h"
#include "clientlib/blended_bitbtn.h"
#include "clientlib/messages.h"
#include "clientlib/net_connection.h"
#include "clientlib/update_report.h"
#include "platform/date_time.h"

class QLabel;
class QPixmap;
class QFrame;
class QEventLoop;

namespace Cli_jov00000 {

using jov::TBlendedBitBtn;

// Which code the on-screen keyboard is collecting.
enum TInputStep : std::uint8_t { isFilial = 0, isCaixa = 1, isNone = 2 };

class TfrmEscolheSistema : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls and runs FormCreate; the form is not shown yet.
  TfrmEscolheSistema(jov::Services& services, QWidget* owner = nullptr);
  ~TfrmEscolheSistema() override;

  // Components, in their declared order.
  std::unique_ptr<jov::TMessages> msgPadrao;
  QLabel* lblCodTela = nullptr;
  std::unique_ptr<jov::TNetConnection> netLocalCache;
  TBlendedBitBtn* sbtJovTab = nullptr;
  TBlendedBitBtn* sbtJovBpl = nullptr;
  TBlendedBitBtn* sbtEnter = nullptr;
  TBlendedBitBtn* sbtCancelar = nullptr;
  QLabel* img_no_Flash = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* imgAberturaJov = nullptr;
  QLabel* imgAberturaTRV = nullptr;
  QFrame* shTeclado = nullptr;
  TBlendedBitBtn* sbt1 = nullptr;
  TBlendedBitBtn* sbt2 = nullptr;
  TBlendedBitBtn* sbt3 = nullptr;
  TBlendedBitBtn* sbt6 = nullptr;
  TBlendedBitBtn* sbt5 = nullptr;
  TBlendedBitBtn* sbt4 = nullptr;
  TBlendedBitBtn* sbt7 = nullptr;
  TBlendedBitBtn* sbt8 = nullptr;
  TBlendedBitBtn* sbt9 = nullptr;
  TBlendedBitBtn* sbtCorrigir = nullptr;
  TBlendedBitBtn* sbt0 = nullptr;
  TBlendedBitBtn* sbtConfirma = nullptr;
  TBlendedBitBtn* sbtVirgula = nullptr;
  QLabel* lblInfo = nullptr;
  QLabel* lblCabec = nullptr;
  std::unique_ptr<jov::TClientDataSet> cdsFilialCaixa;
  std::unique_ptr<jov::TStringField> cdsFilialCaixaCDFILIAL;
  std::unique_ptr<jov::TStringField> cdsFilialCaixaCDCAIXA;
  std::unique_ptr<jov::TADOConnection> adcBaixaDados;
  std::unique_ptr<jov::TADOQuery> adqBaixaDados;
  std::unique_ptr<jov::TClientDataSet> cdsParametrosJov;
  TBlendedBitBtn* sbtq = nullptr;
  TBlendedBitBtn* sbtw = nullptr;
  TBlendedBitBtn* sbte = nullptr;
  TBlendedBitBtn* sbtr = nullptr;
  TBlendedBitBtn* sbtt = nullptr;
  TBlendedBitBtn* sbty = nullptr;
  TBlendedBitBtn* sbtu = nullptr;
  TBlendedBitBtn* sbti = nullptr;
  TBlendedBitBtn* sbto = nullptr;
  TBlendedBitBtn* sbtp = nullptr;
  TBlendedBitBtn* sbta = nullptr;
  TBlendedBitBtn* sbts = nullptr;
  TBlendedBitBtn* sbtd = nullptr;
  TBlendedBitBtn* sbtf = nullptr;
  TBlendedBitBtn* sbtg = nullptr;
  TBlendedBitBtn* sbth = nullptr;
  TBlendedBitBtn* sbtj = nullptr;
  TBlendedBitBtn* sbtk = nullptr;
  TBlendedBitBtn* sbtl = nullptr;
  TBlendedBitBtn* sbtCCdil = nullptr;
  TBlendedBitBtn* sbtz = nullptr;
  TBlendedBitBtn* sbtx = nullptr;
  TBlendedBitBtn* sbtc = nullptr;
  TBlendedBitBtn* sbtv = nullptr;
  TBlendedBitBtn* sbtb = nullptr;
  TBlendedBitBtn* sbtn = nullptr;
  TBlendedBitBtn* sbtm = nullptr;
  TBlendedBitBtn* sbtSair = nullptr;
  TBlendedBitBtn* sbtShift = nullptr;
  TBlendedBitBtn* sbtEspaco = nullptr;
  TBlendedBitBtn* sbtCapsLock = nullptr;
  TBlendedBitBtn* sbtponto = nullptr;

  // State.
  bool boAtuBpl = false;
  bool boReinicia = false;
  std::string cdFilial;
  std::string cdCaixa;
  std::string paramJovTab;
  std::string nomeExe;
  std::string idUtilAberAuto;
  std::string idPerAcessoTer;
  std::int32_t InputMaxLength = 0;
  TInputStep InputStep = isFilial;

  // Start-up and closing.
  void FormCreate(QObject* Sender);
  void FormActivate(QObject* Sender);
  void FormClose(QObject* Sender, int& Action);
  void sbtCancelarClick(QObject* Sender);
  void IniciaSistema();

  // Update log: one line appended to the month's file. Throws IoError on failure.
  void Log(const std::string& text);

  // Process control.
  bool ProcessoRodando(const std::string& name);
  void FinalizaProcesso(const std::string& name);

  // Entering the system.
  void sbtEnterClick(QObject* Sender);
  void sbtIniciarClick(QObject* Sender);

  // Branch and register identification, and the on-screen keyboard.
  void PreencheParametros();
  void ChamaTeclado(const std::string& prompt, int max_length, bool show);
  void sbt1Click(QObject* Sender);
  void sbtCCdilClick(QObject* Sender);
  void FormKeyPress(QObject* Sender, char& Key);
  void FormKeyDown(QObject* Sender, std::uint16_t& Key, int Shift);
  void sbtCorrigirClick(QObject* Sender);
  void sbtConfirmaClick(QObject* Sender);
  void sbtSairClick(QObject* Sender);

  // Server connection and environment checks.
  bool TestePing();
  void criaRegHTTP();
  void netLocalCacheBeforeConnect(QObject* Sender);
  void adcBaixaDadosBeforeConnect(QObject* Sender);
  void adcBaixaDadosAfterConnect(QObject* Sender);
  bool VerificaPermissao(const std::string& folder);

  // Updating.
  void BaixaJovBplExe();
  void BuscaDtExe(const std::string& FileName);
  // Sends the report of this start's executable update, if it ran, to the application
  // server, off the UI thread; says nothing of how that goes.
  void EnviaRelatorio();
  void CopiaArquivos();
  void sbtJovBplClick(QObject* Sender);
  void ExecutaJovTab(bool atualiza);
  void sbtJovTabClick(QObject* Sender);

  // Runs an event handler the way the event loop does: a silent abort ends it quietly, any
  // other exception is shown by the default error display and the form stays up.
  void RunHandler(const std::function<void()>& handler);

  jov::Services& services() { return services_; }

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void CriaComponentes();
  void AgendaAtivacao();
  void LigaEventos();
  std::vector<TBlendedBitBtn*> TeclasDeCaractere() const;
  // Shows the keyboard for one code and runs the event loop until the entry is confirmed;
  // returns it. Throws jov::Abort when the form is hidden, closed or freed, or the
  // application quits, before a confirmation.
  std::string EsperaCodigo(TInputStep step, const std::string& prompt, int max_length);

  jov::Services& services_;
  bool activation_pending_ = false;
  QEventLoop* espera_ = nullptr;                // the running wait for the operator, if any
  std::optional<jov::UpdateReport> relatorio_;  // this start's update, until it is sent
};

// Unit-level state of the launcher package: lives while the package is loaded.
extern TfrmEscolheSistema* frmEscolheSistema;
extern std::string DirJov;
extern std::string DirCadJovBpl;
extern bool boCriaPriVez;
extern bool boAtuExe;
extern bool boServerAtivo;
extern jov::DateTime dtJovTab;
extern jov::DateTime dtJovexp;
// The nine client executables that the update asks the server about.
extern std::vector<std::string> arquivosExe;

// Unit initialization and finalization: run when the package is loaded and unloaded.
void InicializaUnidade(jov::HostPath& host);
void FinalizaUnidade();

// Shows the launcher modally and returns true once the form is closed and freed. A nested
// call while the form is shown returns true and does nothing else.
bool EscolheSistema(jov::Services& services);

// The picture a picture control shows; a hidden one decodes its picture on the first call
// and keeps it from then on.
QPixmap FiguraDe(QLabel* imagem);

// Where the form's top-left corner goes: centred, or the negative overhang on a screen
// smaller than the form.
QPoint PosicaoNaTela(const QRect& screen, const QSize& form);

}  // namespace Cli_jov00000
