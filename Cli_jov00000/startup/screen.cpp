// The screen: every control at its place with its looks, the catalogue and the handlers.
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QVariant>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "Cli_jov00000/identify/teclado.h"
#include "platform/cp1252.h"

namespace Cli_jov00000 {

namespace {

using jov::ColorFromStored;
using jov::TBlendedBitBtn;
using Layout = TBlendedBitBtn::TButtonLayout;

constexpr int kGrey = 0x808080;          // the platform's grey; the same in both byte orders
constexpr int kFaceRed = 1130222;        // #EE3E11
constexpr int kFaceOrange = 2907084;     // #CC5B2C
constexpr int kFaceGreen = 6610210;      // #22DD64
constexpr int kFaceDisabled = 13421772;  // #CCCCCC
// Disabled labels draw their text in the classic greyed colour.
const QColor kGreyedText(160, 160, 160);
// Left edges of the keyboard's ten columns.
constexpr int kColumn[] = {101, 161, 221, 281, 341, 401, 461, 521, 581, 641};

// The system colours the screen names, taken from the application's palette.
struct SystemColours {
  QColor window;       // the window (edit) background
  QColor window_text;  // the window text
  QColor button_face;
};

SystemColours System(const QWidget& widget) {
  const QPalette& p = widget.palette();
  return {p.color(QPalette::Active, QPalette::Base),
          p.color(QPalette::Active, QPalette::WindowText),
          p.color(QPalette::Active, QPalette::Button)};
}

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

// A picture from the package's resources, decoded by the reader of the format its name ends
// in. Qt otherwise offers every image plug-in the file before its own PNG reader, and so
// loads them all (GIF, ICO, JPEG) for the first button's glyph.
QPixmap Resource(const QString& name) {
  QImageReader reader(name, QFileInfo(name).suffix().toLatin1());
  reader.setAutoDetectImageFormat(false);
  return QPixmap::fromImage(reader.read());
}

// The property under which a hidden picture keeps the resource it shows once decoded.
constexpr char kPictureSource[] = "jovPictureSource";

// A picture whose image is stretched to its bounds; transparent where it has no image. A
// hidden picture only keeps its resource's name: decoding an 800x600 picture costs about 2 MB
// and a few milliseconds of the start, and only one of the opening pictures is ever shown.
QLabel* Picture(QWidget* parent, const QRect& place, const char* resource, bool visible) {
  auto* label = new QLabel(parent);
  label->setGeometry(place);
  label->setScaledContents(true);
  label->setAlignment(Qt::AlignCenter);
  if (resource != nullptr) {
    if (visible) {
      label->setPixmap(Resource(QString::fromLatin1(resource)));
    } else {
      label->setProperty(kPictureSource, QString::fromLatin1(resource));
    }
  }
  label->setVisible(visible);
  return label;
}

// A transparent label; a disabled one shows its text greyed.
QLabel* Label(QWidget* parent, const QRect& place, const QString& caption, const QFont& font,
              const QColor& colour, bool enabled, bool visible) {
  auto* label = new QLabel(caption, parent);
  label->setGeometry(place);
  label->setFont(font);
  QPalette look = label->palette();
  look.setColor(QPalette::Active, QPalette::WindowText, colour);
  look.setColor(QPalette::Inactive, QPalette::WindowText, colour);
  look.setColor(QPalette::Disabled, QPalette::WindowText, enabled ? colour : kGreyedText);
  label->setPalette(look);
  label->setEnabled(enabled);
  label->setVisible(visible);
  return label;
}

// One of the four main buttons along the lower edge.
TBlendedBitBtn* MainButton(QWidget* parent, const SystemColours& system, int left,
                           const std::string& caption, int fill, const QColor& ink,
                           const char* glyph, const char* glyph_off) {
  auto* button = new TBlendedBitBtn(parent);
  button->setGeometry(left, 463, 160, 46);
  button->SetCaption(caption);
  button->setFont(Arial(15));
  button->Shape = TBlendedBitBtn::TShape::stRoundRect;
  button->PenStyle = TBlendedBitBtn::TPenStyle::psClear;
  button->BrushColor = ColorFromStored(fill);
  button->FontColor = ink;
  button->DownColor = system.window_text;
  button->DownFontColor = system.window;
  button->DisabledColor = ColorFromStored(kFaceDisabled);
  button->DisabledFontColor = Qt::white;
  button->Glyph = Resource(QString::fromLatin1(glyph));
  button->GlyphDisabled = Resource(QString::fromLatin1(glyph_off));
  return button;
}

// A key of the on-screen keyboard; every key starts hidden.
TBlendedBitBtn* Key(QWidget* parent, const SystemColours& system, int left, int top, int width,
                    const std::string& caption, int tag, bool enabled) {
  auto* key = new TBlendedBitBtn(parent);
  key->setGeometry(left, top, width, 46);
  key->SetCaption(caption);
  key->setFont(Arial(24));
  key->Shape = TBlendedBitBtn::TShape::stRoundRect;
  key->PenStyle = TBlendedBitBtn::TPenStyle::psClear;
  key->BrushColor = ColorFromStored(kGrey);
  key->FontColor = Qt::white;
  key->DownColor = system.window_text;
  key->DownFontColor = system.window;
  key->DisabledColor = QColor(204, 204, 204);
  key->DisabledFontColor = Qt::white;
  key->Tag = tag;
  key->setEnabled(enabled);
  key->setVisible(false);
  return key;
}

TBlendedBitBtn* CharacterKey(QWidget* parent, const SystemColours& system, int column, int top,
                             char character, bool enabled) {
  return Key(parent, system, kColumn[column], top, 57, std::string(1, character),
             static_cast<unsigned char>(character), enabled);
}

TBlendedBitBtn* IconKey(QWidget* parent, const SystemColours& system, int left, int top,
                        const char* icon) {
  TBlendedBitBtn* key = Key(parent, system, left, top, 57, "", 0, false);
  key->Glyph = Resource(QString::fromLatin1(icon));
  return key;
}

// Keeps the pictures that fill the client area filling it whenever the form is resized.
class FillClientArea : public QObject {
 public:
  FillClientArea(QWidget* form, std::vector<QWidget*> fill) : QObject(form), fill_(fill) {
    form->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize) {
      const QRect client = static_cast<QWidget*>(watched)->rect();
      for (QWidget* widget : fill_) widget->setGeometry(client);
    }
    return false;
  }

 private:
  std::vector<QWidget*> fill_;
};

}  // namespace

QPixmap FiguraDe(QLabel* imagem) {
  const QVariant source = imagem->property(kPictureSource);
  if (source.isValid()) {
    imagem->setPixmap(Resource(source.toString()));
    imagem->setProperty(kPictureSource, QVariant());
  }
  return imagem->pixmap();
}

void TfrmEscolheSistema::CriaComponentes() {
  setObjectName(QStringLiteral("frmEscolheSistema"));
  setWindowTitle(QStringLiteral("frmEscolheSistema"));
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  resize(792, 573);
  const SystemColours system = System(*this);
  QPalette look = palette();
  look.setColor(QPalette::Window, system.button_face);
  setPalette(look);
  setAutoFillBackground(true);
  QFont base(QStringLiteral("MS Sans Serif"));
  base.setPixelSize(11);
  setFont(base);

  msgPadrao = std::make_unique<jov::TMessages>();
  msgPadrao->Messages = Catalogue();

  // Created from the bottom of the stacking order upward: the pictures lie under everything.
  img_no_Flash = Picture(this, rect(), nullptr, true);
  Image1 = Picture(this, rect(), nullptr, true);
  imgAberturaJov = Picture(this, {538, 133, 164, 67}, ":/assets/abertura_jov.jpg", false);
  imgAberturaTRV = Picture(this, {537, 61, 164, 67}, ":/assets/abertura_trv.jpg", false);

  lblCodTela = Label(this, {648, 559, 51, 14}, QStringLiteral("JOV00000"), Arial(11),
                     ColorFromStored(kGrey), true, true);

  netLocalCache = std::make_unique<jov::TNetConnection>(services_.server);
  netLocalCache->ServerName = "lum.rdmAtualizaEstrutura";
  netLocalCache->ThrowException = false;

  sbtJovTab = MainButton(this, system, 404, "Atualizar &Tabelas", kFaceOrange, system.window,
                         ":/assets/btn_tabelas.png", ":/assets/btn_tabelas_off.png");
  sbtJovTab->Layout = Layout::blGlyphRight;
  sbtJovTab->Margin = 2;
  sbtJovTab->Spacing = 5;
  sbtJovBpl = MainButton(this, system, 229, "&Atualizar Sistema Jov", kFaceOrange, system.window,
                         ":/assets/btn_sistema.png", ":/assets/btn_sistema_off.png");
  sbtJovBpl->Layout = Layout::blGlyphRight;
  sbtJovBpl->Spacing = 20;
  sbtEnter = MainButton(this, system, 580, "&Entrar no Sistema", kFaceGreen, Qt::white,
                        ":/assets/btn_entrar.png", ":/assets/btn_entrar_off.png");
  sbtCancelar = MainButton(this, system, 54, "&Sair do Sistema", kFaceRed, Qt::white,
                           ":/assets/btn_sair.png", ":/assets/btn_sair_off.png");
  sbtCancelar->Spacing = 5;

  // The keyboard's panel: white with a one-pixel black outline, behind the keys.
  shTeclado = new QFrame(this);
  shTeclado->setGeometry(91, 121, 616, 321);
  shTeclado->setFrameStyle(QFrame::Box | QFrame::Plain);
  shTeclado->setLineWidth(1);
  QPalette panel = shTeclado->palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    panel.setColor(group, QPalette::Window, Qt::white);
    panel.setColor(group, QPalette::WindowText, Qt::black);
  }
  shTeclado->setPalette(panel);
  shTeclado->setAutoFillBackground(true);
  shTeclado->setEnabled(false);
  shTeclado->setVisible(false);

  sbt1 = CharacterKey(this, system, 0, 190, '1', false);
  sbt2 = CharacterKey(this, system, 1, 190, '2', false);
  sbt3 = CharacterKey(this, system, 2, 190, '3', false);
  sbt6 = CharacterKey(this, system, 5, 190, '6', false);
  sbt5 = CharacterKey(this, system, 4, 190, '5', false);
  sbt4 = CharacterKey(this, system, 3, 190, '4', false);
  sbt7 = CharacterKey(this, system, 6, 190, '7', false);
  sbt8 = CharacterKey(this, system, 7, 190, '8', false);
  sbt9 = CharacterKey(this, system, 8, 190, '9', false);
  sbtCorrigir = IconKey(this, system, kColumn[9], 339, ":/assets/tecla_corrigir.png");
  sbt0 = CharacterKey(this, system, 9, 190, '0', false);
  sbtConfirma = IconKey(this, system, kColumn[9], 389, ":/assets/tecla_confirma.png");
  sbtConfirma->BrushColor = ColorFromStored(kFaceGreen);
  sbtVirgula = Key(this, system, kColumn[7], 339, 57, ",", 0, false);

  lblInfo = Label(this, {109, 156, 224, 28}, QString(), Arial(24, true), ColorFromStored(kGrey),
                  false, false);
  lblCabec = Label(this, {101, 128, 231, 25}, QStringLiteral("Informe a Filial"), Arial(16, true),
                   Qt::black, false, false);

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

  // Letters are enabled on the form; hidden, they cannot be pressed until the keyboard shows.
  sbtq = CharacterKey(this, system, 0, 239, 'Q', true);
  sbtw = CharacterKey(this, system, 1, 239, 'W', true);
  sbte = CharacterKey(this, system, 2, 239, 'E', true);
  sbtr = CharacterKey(this, system, 3, 239, 'R', true);
  sbtt = CharacterKey(this, system, 4, 239, 'T', true);
  sbty = CharacterKey(this, system, 5, 239, 'Y', true);
  sbtu = CharacterKey(this, system, 6, 239, 'U', true);
  sbti = CharacterKey(this, system, 7, 239, 'I', true);
  sbto = CharacterKey(this, system, 8, 239, 'O', true);
  sbtp = CharacterKey(this, system, 9, 239, 'P', true);
  sbta = CharacterKey(this, system, 0, 289, 'A', true);
  sbts = CharacterKey(this, system, 1, 289, 'S', true);
  sbtd = CharacterKey(this, system, 2, 289, 'D', true);
  sbtf = CharacterKey(this, system, 3, 289, 'F', true);
  sbtg = CharacterKey(this, system, 4, 289, 'G', true);
  sbth = CharacterKey(this, system, 5, 289, 'H', true);
  sbtj = CharacterKey(this, system, 6, 289, 'J', true);
  sbtk = CharacterKey(this, system, 7, 289, 'K', true);
  sbtl = CharacterKey(this, system, 8, 289, 'L', true);
  // Its code is set when it is pressed.
  sbtCCdil = Key(this, system, kColumn[9], 289, 57, "Ç"_w, 0, true);
  sbtz = CharacterKey(this, system, 0, 339, 'Z', true);
  sbtx = CharacterKey(this, system, 1, 339, 'X', true);
  sbtc = CharacterKey(this, system, 2, 339, 'C', true);
  sbtv = CharacterKey(this, system, 3, 339, 'V', true);
  sbtb = CharacterKey(this, system, 4, 339, 'B', true);
  sbtn = CharacterKey(this, system, 5, 339, 'N', true);
  sbtm = CharacterKey(this, system, 6, 339, 'M', true);
  sbtSair = IconKey(this, system, 101, 389, ":/assets/tecla_sair.png");
  sbtShift = Key(this, system, 161, 389, 114, "Shift", 16, false);
  sbtShift->setFont(Arial(21));
  sbtEspaco = Key(this, system, 281, 389, 237, "", 32, false);
  sbtCapsLock = Key(this, system, 521, 389, 117, "Caps Lock", 20, false);
  sbtCapsLock->setFont(Arial(21));
  sbtponto = Key(this, system, kColumn[8], 339, 57, ".", 46, false);

  new FillClientArea(this, {img_no_Flash, Image1});
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
  LigaPreviaDeTeclas(*this);
}

}  // namespace Cli_jov00000
