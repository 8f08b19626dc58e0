// Branch and register parameters: the codes from the data file or the keyboard, the file of
// typed codes, the opening rules from table CAIXA, and the form's wait for the operator.
#include "Cli_jov00000/identify/parametros.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "clientlib/consiste.h"
#include "clientlib/mensagemjov.h"
#include "platform/errors.h"

namespace Cli_jov00000 {

void LeCodigosDoArquivo(jov::DatasetFiles& datasets, const std::string& path,
                        jov::TClientDataSet& cds, Parametros& saida) {
  cds.Data = datasets.Load(path);  // names the file on failure
  try {
    saida.cdFilial = cds.FieldText("CDFILIAL");
    saida.cdCaixa = cds.FieldText("CDCAIXA");
  } catch (const jov::Error& error) {
    jov::ErrorContext context = error.context();
    if (context.file.empty()) context.file = path;
    throw jov::Error(path + ": " + error.what(), error.cause(), std::move(context));
  }
}

void GravaFilialCaixa(jov::DatasetFiles& datasets, const std::string& path,
                      jov::TClientDataSet& cds, const std::string& filial,
                      const std::string& caixa) {
  cds.Data = {};
  for (const jov::TStringField* field : cds.FieldDefs) {
    cds.Data.fields.push_back({field->FieldName, "string", field->Size});
  }
  auto& row = cds.Data.rows.emplace_back();
  row["CDFILIAL"] = filial;
  row["CDCAIXA"] = caixa;
  datasets.Save(path, cds.Data);  // written beside the file and renamed over it
}

void LeRegras(jov::TADOQuery& query, Parametros& saida) {
  try {
    query.Close();
    query.Parameters["P_CDFILIAL"] = saida.cdFilial;
    query.Parameters["P_CDCAIXA"] = saida.cdCaixa;
    query.Open();
    saida.idUtilAberAuto = query.FieldText("IDUTILABERAUTO");
    saida.idPerAcessoTer = query.FieldText("IDPERACESSOTER");
  } catch (const std::exception&) {
    // Whatever was read before the failure: a register without its rules opens by hand.
    saida.idUtilAberAuto = "N";
    saida.idPerAcessoTer = "N";
  }
}

void PreencheParametros(const FontesDeParametros& fontes, Parametros& saida) {
  if (fontes.files.FileExists(fontes.arquivo_mercato)) {
    LeCodigosDoArquivo(fontes.datasets, fontes.arquivo_mercato, fontes.cdsParametrosJov, saida);
  } else {
    Mensagemjov::Mensagem(fontes.dialogs, fontes.aviso_sem_mercato, "", "N", "N",
                          Mensagemjov::tmAviso, "", "", 0, nullptr);
    saida.cdFilial = fontes.operador.Pede(isFilial, "Informe a Filial", 4);
    saida.cdCaixa = fontes.operador.Pede(isCaixa, "Informe o Caixa", 3);
    fontes.operador.Esconde();
    saida.cdFilial = Consiste::Ajusta(saida.cdFilial, 4);
    saida.cdCaixa = Consiste::Ajusta(saida.cdCaixa, 3);
    GravaFilialCaixa(fontes.datasets, fontes.arquivo_filial_caixa, fontes.cdsFilialCaixa,
                     saida.cdFilial, saida.cdCaixa);
  }
  LeRegras(fontes.adqBaixaDados, saida);
}

namespace {

// Ends a wait for the operator when the program hides the form, when it is closed or
// destroyed, or when the application is quitting; the confirm action ends it through the form.
// A hide by the window system (the window minimised, or moved to another desktop) leaves the
// prompt waiting for its entry.
class FimDaEspera : public QObject {
 public:
  FimDaEspera(QWidget& form, QEventLoop& loop) : loop_(loop) {
    form.installEventFilter(this);
    connect(&form, &QObject::destroyed, &loop, &QEventLoop::quit);
    if (QCoreApplication::instance() != nullptr) {
      connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &loop,
              &QEventLoop::quit);
    }
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if ((event->type() == QEvent::Hide && !event->spontaneous()) ||
        event->type() == QEvent::Close) {
      loop_.quit();
    }
    return false;
  }

 private:
  QEventLoop& loop_;
};

}  // namespace

std::string TfrmEscolheSistema::EsperaCodigo(TInputStep step, const std::string& prompt,
                                             int max_length) {
  InputStep = step;
  ChamaTeclado(prompt, max_length, true);
  // Nobody can answer a form that is not on screen; the event loop sleeps between events.
  if (!isVisible()) throw jov::Abort();
  QEventLoop loop;
  FimDaEspera fim(*this, loop);
  espera_ = &loop;
  QPointer<TfrmEscolheSistema> self(this);
  loop.exec();
  if (self.isNull()) throw jov::Abort();
  espera_ = nullptr;
  if (InputStep != isNone) throw jov::Abort();  // the form closed or the application quits
  return step == isFilial ? cdFilial : cdCaixa;
}

void TfrmEscolheSistema::PreencheParametros() {
  Parametros saida{cdFilial, cdCaixa, idUtilAberAuto, idPerAcessoTer};
  const FontesDeParametros fontes{
      services_.files,
      services_.datasets,
      services_.dialogs,
      DirJov + "/Mercato.cds",
      jov::DirectoryOf(services_.host.ExecutablePath()) + "/cdsFilialCaixa.cds",
      msgPadrao->Msg("MercatoCDS"),
      {[this](TInputStep step, const std::string& prompt, int max_length) {
         return EsperaCodigo(step, prompt, max_length);
       },
       [this] { ChamaTeclado("", 1, false); }},
      *cdsParametrosJov,
      *cdsFilialCaixa,
      *adqBaixaDados};
  Cli_jov00000::PreencheParametros(fontes, saida);
}

}  // namespace Cli_jov00000
