// The screen: every control at its place with its looks, the catalogue and the handlers.
#include <QFrame>
#include <QLabel>
#include <QPixmap>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "platform/cp1252.h"

namespace Cli_jov00000 {
namespace {

using jov::ColorFromStored;
using jov::TBlendedBitBtn;

constexpr int kGrey = 0x808080;  // the platform's grey, stored value (same in both orders)
const QColor kWindow(Qt::white);
const QColor kWindowText(Qt::black);

QFont Arial(int pixels, bool bold = false) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

// The message catalogue, "key|text" in Windows-1252.
std::vector<std::string> Catalogue() {
  return {
      "ExeUpdate|A versão do executável no servidor está mais atualizada que a versão local. "
      "Deseja atualizá-lo?"_w,
      "Msg_JovTab|Neste momento o sistema irá acessar o servidor para baixar as tabelas "
      "utilizadas no cache local (Produtos, Preços, Impostos, Parâmetros, etc). Caso não seja "
      "possível estabelecer uma conexão com o servidor, o sistema poderá ser utilizado "
      "normalmente. Apenas não estará com as tabelas atualizadas."_w,
      "Msg_JovBpl|Esta sendo realizado a atualização das telas do sistema.Deseja interromper a "
      "atualização e abrir o sistema?"_w,
      "JovTab|Esta sendo realizado a atualização do banco de dados local. Caso prossiga, o "
      "sistema funcionará normalmente. Apenas os seus dados locais não serão atualizados. "
      "Deseja continuar?"_w,
      "MercatoCDS|Não foi localizado arquivo Mercato.cds, Filial e Caixa devem ser informados "
      "para que seja realizado a baixa das tabelas."_w,
      "Aguardar_Atualizacao|Aguarde o download dos arquivos de atualização do sistema."_w,
      "Reiniciar|O sistema será reiniciado para que as alterações sejam aplicadas."_w,
      "Tab_Bloq|Operação bloqueada! Este caixa não pode ser aberto enquanto as tabelas estão "
      "sendo atualizadas."_w,
      "Msg_AtuExe|Atenção! O sistema se encontra com arquivos desatualizados. É importante a "
      "atualização para o funcionamento adequado do caixa. Deseja continuar mesmo assim?"_w,
  };
}

QLabel* Picture(QWidget* parent, const QRect& place, const char* resource, bool visible) {
  auto* label = new QLabel(parent);
  label->setGeometry(place);
  label->setScaledContents(true);
  if (resource != nullptr) label->setPixmap(QPixmap(QString::fromLatin1(resource)));
  label->setVisible(visible);
  return label;
}

TBlendedBitBtn* MainButton(QWidget* parent, int left, const std::string& caption, int fill,
                           const QColor& ink, const char* glyph, const char* glyph_off) {
  auto* button = new TBlendedBitBtn(parent);
  button->setGeometry(left, 463, 160, 46);
  button->SetCaption(caption);
  button->setFont(Arial(15));
  button->BrushColor = ColorFromStored(fill);
  button->FontColor = ink;
  button->DownColor = kWindowText;
  button->DownFontColor = kWindow;
  button->DisabledColor = ColorFromStored(13421772);
  button->DisabledFontColor = Qt::white;
  button->Glyph = QPixmap(QString::fromLatin1(glyph));
  button->GlyphDisabled = QPixmap(QString::fromLatin1(glyph_off));
  return button;
}

TBlendedBitBtn* Key(QWidget* parent, int left, int top, int width, const std::string& caption,
                    int tag, bool enabled) {
  auto* key = new TBlendedBitBtn(parent);
  key->setGeometry(left, top, width, 46);
  key->SetCaption(caption);
  key->setFont(Arial(24));
  key->BrushColor = ColorFromStored(kGrey);
  key->FontColor = Qt::white;
  key->DownColor = kWindowText;
  key->DownFontColor = kWindow;
  key->DisabledColor = QColor(204, 204, 204);
  key->DisabledFontColor = Qt::white;
  key->Tag = tag;
  key->setEnabled(enabled);
  key->setVisible(false);
  return key;
}

}  // namespace

void TfrmEscolheSistema::CriaComponentes() {
  setObjectName(QStringLiteral("frmEscolheSistema"));
  setWindowTitle(QStringLiteral("frmEscolheSistema"));
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  resize(792, 573);
  QPalette look = palette();
  look.setColor(QPalette::Window, look.color(QPalette::Button));
  setPalette(look);
  setAutoFillBackground(true);
  QFont base(QStringLiteral("MS Sans Serif"));
  base.setPixelSize(11);
  setFont(base);

  msgPadrao = std::make_unique<jov::TMessages>();
  msgPadrao->Messages = Catalogue();

  // Pictures, bottom of the stacking order first.
  img_no_Flash = Picture(this, rect(), nullptr, true);
  Image1 = Picture(this, rect(), nullptr, true);
  imgAberturaJov = Picture(this, {538, 133, 164, 67}, ":/assets/abertura_jov.jpg", false);
  imgAberturaTRV = Picture(this, {537, 61, 164, 67}, ":/assets/abertura_trv.jpg", false);

  lblCodTela = new QLabel(QStringLiteral("JOV00000"), this);
  lblCodTela->setGeometry(648, 559, 51, 14);
  lblCodTela->setFont(Arial(11));
  lblCodTela->setStyleSheet(QStringLiteral("color: #808080; background: transparent;"));

  netLocalCache = std::make_unique<jov::TNetConnection>(services_.server);
  netLocalCache->ServerName = "lum.rdmAtualizaEstrutura";
  netLocalCache->ThrowException = false;

  const QColor white(Qt::white);
  sbtJovTab = MainButton(this, 404, "Atualizar &Tabelas", 2907084, kWindow,
                         ":/assets/btn_tabelas.png", ":/assets/btn_tabelas_off.png");
  sbtJovTab->Layout = TBlendedBitBtn::TButtonLayout::blGlyphRight;
  sbtJovTab->Margin = 2;
  sbtJovTab->Spacing = 5;
  sbtJovBpl = MainButton(this, 229, "&Atualizar Sistema Jov", 2907084, kWindow,
                         ":/assets/btn_sistema.png", ":/assets/btn_sistema_off.png");
  sbtJovBpl->Layout = TBlendedBitBtn::TButtonLayout::blGlyphRight;
  sbtJovBpl->Spacing = 20;
  sbtEnter = MainButton(this, 580, "&Entrar no Sistema", 6610210, white, ":/assets/btn_entrar.png",
                        ":/assets/btn_entrar_off.png");
  sbtCancelar = MainButton(this, 54, "&Sair do Sistema", 1130222, white, ":/assets/btn_sair.png",
                           ":/assets/btn_sair_off.png");
  sbtCancelar->Spacing = 5;

  shTeclado = new QFrame(this);
  shTeclado->setGeometry(91, 121, 616, 321);
  shTeclado->setStyleSheet(QStringLiteral("background: white; border: 1px solid black;"));
  shTeclado->setEnabled(false);
  shTeclado->setVisible(false);

  constexpr int kColumns[] = {101, 161, 221, 281, 341, 401, 461, 521, 581, 641};
  auto digit = [&](int column, char c) {
    return Key(this, kColumns[column], 190, 57, std::string(1, c), c, false);
  };
  sbt1 = digit(0, '1');
  sbt2 = digit(1, '2');
  sbt3 = digit(2, '3');
  sbt6 = digit(5, '6');
  sbt5 = digit(4, '5');
  sbt4 = digit(3, '4');
  sbt7 = digit(6, '7');
  sbt8 = digit(7, '8');
  sbt9 = digit(8, '9');
  sbtCorrigir = Key(this, kColumns[9], 339, 57, "", 0, false);
  sbtCorrigir->Glyph = QPixmap(QStringLiteral(":/assets/tecla_corrigir.png"));
  sbt0 = digit(9, '0');
  sbtConfirma = Key(this, kColumns[9], 389, 57, "", 0, false);
  sbtConfirma->BrushColor = ColorFromStored(6610210);
  sbtConfirma->Glyph = QPixmap(QStringLiteral(":/assets/tecla_confirma.png"));
  sbtVirgula = Key(this, kColumns[7], 339, 57, ",", 0, false);

  lblInfo = new QLabel(this);
  lblInfo->setGeometry(109, 156, 224, 28);
  lblInfo->setFont(Arial(24, true));
  lblInfo->setStyleSheet(QStringLiteral("color: #808080; background: transparent;"));
  lblInfo->setEnabled(false);
  lblInfo->setVisible(false);
  lblCabec = new QLabel(QStringLiteral("Informe a Filial"), this);
  lblCabec->setGeometry(101, 128, 231, 25);
  lblCabec->setFont(Arial(16, true));
  lblCabec->setStyleSheet(QStringLiteral("background: transparent;"));
  lblCabec->setEnabled(false);
  lblCabec->setVisible(false);

  cdsFilialCaixa = std::make_unique<jov::TClientDataSet>();
  cdsFilialCaixaCDFILIAL = std::make_unique<jov::TStringField>(jov::TStringField{"CDFILIAL", 4});
  cdsFilialCaixaCDCAIXA = std::make_unique<jov::TStringField>(jov::TStringField{"CDCAIXA", 3});
  cdsFilialCaixa->FieldDefs = {cdsFilialCaixaCDFILIAL.get(), cdsFilialCaixaCDCAIXA.get()};
  adcBaixaDados = std::make_unique<jov::TADOConnection>(services_.database);
  adqBaixaDados = std::make_unique<jov::TADOQuery>();
  adqBaixaDados->Connection = adcBaixaDados.get();
  adqBaixaDados->SQL = {"SELECT IDAUTOIMPTAB, IDUTILABERAUTO,IDPERACESSOTER", "  FROM CAIXA",
                        " WHERE CDFILIAL = :P_CDFILIAL", "   AND CDCAIXA  = :P_CDCAIXA"};
  cdsParametrosJov = std::make_unique<jov::TClientDataSet>();

  auto letter = [&](int column, int top, char c) {
    return Key(this, kColumns[column], top, 57, std::string(1, c), c, true);
  };
  sbtq = letter(0, 239, 'Q');
  sbtw = letter(1, 239, 'W');
  sbte = letter(2, 239, 'E');
  sbtr = letter(3, 239, 'R');
  sbtt = letter(4, 239, 'T');
  sbty = letter(5, 239, 'Y');
  sbtu = letter(6, 239, 'U');
  sbti = letter(7, 239, 'I');
  sbto = letter(8, 239, 'O');
  sbtp = letter(9, 239, 'P');
  sbta = letter(0, 289, 'A');
  sbts = letter(1, 289, 'S');
  sbtd = letter(2, 289, 'D');
  sbtf = letter(3, 289, 'F');
  sbtg = letter(4, 289, 'G');
  sbth = letter(5, 289, 'H');
  sbtj = letter(6, 289, 'J');
  sbtk = letter(7, 289, 'K');
  sbtl = letter(8, 289, 'L');
  sbtCCdil = Key(this, kColumns[9], 289, 57, "Ç"_w, 0, true);
  sbtz = letter(0, 339, 'Z');
  sbtx = letter(1, 339, 'X');
  sbtc = letter(2, 339, 'C');
  sbtv = letter(3, 339, 'V');
  sbtb = letter(4, 339, 'B');
  sbtn = letter(5, 339, 'N');
  sbtm = letter(6, 339, 'M');
  sbtSair = Key(this, 101, 389, 57, "", 0, false);
  sbtSair->Glyph = QPixmap(QStringLiteral(":/assets/tecla_sair.png"));
  sbtShift = Key(this, 161, 389, 114, "Shift", 16, false);
  sbtShift->setFont(Arial(21));
  sbtEspaco = Key(this, 281, 389, 237, "", 32, false);
  sbtCapsLock = Key(this, 521, 389, 117, "Caps Lock", 20, false);
  sbtCapsLock->setFont(Arial(21));
  sbtponto = Key(this, kColumns[8], 339, 57, ".", 46, false);

  // The keyboard stands above the pictures and the main buttons.
  shTeclado->raise();
  for (TBlendedBitBtn* key : TeclasDeCaractere()) key->raise();
  for (TBlendedBitBtn* key : {sbtCCdil, sbtVirgula, sbtponto, sbtCorrigir, sbtSair, sbtShift,
                              sbtEspaco, sbtCapsLock, sbtConfirma}) {
    key->raise();
  }
  lblCabec->raise();
  lblInfo->raise();
}

std::vector<TBlendedBitBtn*> TfrmEscolheSistema::TeclasDeCaractere() const {
  return {sbt1, sbt2, sbt3, sbt4, sbt5, sbt6, sbt7, sbt8, sbt9, sbt0, sbtq, sbtw,
          sbte, sbtr, sbtt, sbty, sbtu, sbti, sbto, sbtp, sbta, sbts, sbtd, sbtf,
          sbtg, sbth, sbtj, sbtk, sbtl, sbtz, sbtx, sbtc, sbtv, sbtb, sbtn, sbtm};
}

void TfrmEscolheSistema::LigaEventos() {
  auto bind = [this](TBlendedBitBtn* button, void (TfrmEscolheSistema::*handler)(QObject*)) {
    button->OnClick = [this, handler](TBlendedBitBtn* sender) {
      RunHandler([this, handler, sender] { (this->*handler)(sender); });
    };
  };
  bind(sbtCancelar, &TfrmEscolheSistema::sbtCancelarClick);
  bind(sbtJovBpl, &TfrmEscolheSistema::sbtJovBplClick);
  bind(sbtJovTab, &TfrmEscolheSistema::sbtJovTabClick);
  bind(sbtEnter, &TfrmEscolheSistema::sbtEnterClick);
  for (TBlendedBitBtn* key : TeclasDeCaractere()) bind(key, &TfrmEscolheSistema::sbt1Click);
  bind(sbtponto, &TfrmEscolheSistema::sbt1Click);
  bind(sbtEspaco, &TfrmEscolheSistema::sbt1Click);
  bind(sbtCCdil, &TfrmEscolheSistema::sbtCCdilClick);
  bind(sbtCorrigir, &TfrmEscolheSistema::sbtCorrigirClick);
  bind(sbtConfirma, &TfrmEscolheSistema::sbtConfirmaClick);
  bind(sbtSair, &TfrmEscolheSistema::sbtSairClick);
  netLocalCache->BeforeConnect = [this](jov::TNetConnection&) {
    netLocalCacheBeforeConnect(nullptr);
  };
  adcBaixaDados->BeforeConnect = [this](jov::TADOConnection&) {
    adcBaixaDadosBeforeConnect(nullptr);
  };
  adcBaixaDados->AfterConnect = [this](jov::TADOConnection&) {
    adcBaixaDadosAfterConnect(nullptr);
  };
}

}  // namespace Cli_jov00000
