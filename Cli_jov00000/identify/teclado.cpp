// The on-screen keyboard: showing and hiding it, the key filter shared by the on-screen and the
// physical keys, correction, confirmation, and the form's preview of every key.
#include "Cli_jov00000/identify/teclado.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "clientlib/consiste.h"
#include "platform/cp1252.h"

namespace Cli_jov00000 {
namespace {

constexpr unsigned char kCCedilla = 199;      // "Ç"
constexpr unsigned char kCCedillaLow = 231;   // "ç"
constexpr std::uint16_t kVirtualReturn = 13;  // Enter
constexpr std::uint16_t kVirtualBack = 8;     // Backspace

// The Windows virtual-key code of a Qt key, for the keys the form tells apart; 0 for others.
std::uint16_t VirtualKey(const QKeyEvent& e) {
  const int key = e.key();
  if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) {
    return static_cast<std::uint16_t>(key);  // the same codes as ASCII digits and capitals
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
    return static_cast<std::uint16_t>(112 + (key - Qt::Key_F1));
  }
  switch (key) {
    case Qt::Key_Backspace:
      return kVirtualBack;
    case Qt::Key_Tab:
      return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return kVirtualReturn;
    case Qt::Key_Shift:
      return 16;
    case Qt::Key_Control:
      return 17;
    case Qt::Key_Alt:
      return 18;
    case Qt::Key_CapsLock:
      return 20;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Space:
      return 32;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Delete:
      return 46;
    default:
      return 0;
  }
}

// The shift state as the form's key-down event receives it: 1 Shift, 2 Alt, 4 Ctrl.
int ShiftState(Qt::KeyboardModifiers modifiers) {
  return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::AltModifier ? 2 : 0) |
         (modifiers & Qt::ControlModifier ? 4 : 0);
}

// A physical key: first the key-down event, then, for a key that types one character, the
// key-press event. Keys held with Alt type nothing; they belong to the buttons' access keys.
void TeclaFisica(TfrmEscolheSistema& form, QKeyEvent* e) {
  form.RunHandler([&form, e] {
    std::uint16_t key = VirtualKey(*e);
    form.FormKeyDown(&form, key, ShiftState(e->modifiers()));
    if (e->modifiers() & Qt::AltModifier) return;
    const std::string typed = jov::cp1252::FromQString(e->text());
    if (typed.size() == 1) {
      char c = typed[0];
      form.FormKeyPress(&form, c);
    }
  });
  e->accept();
}

// The form previews keys: a key sent to any of its controls goes to the form's handlers
// instead, as a key sent to the form itself does.
class PreviaDeTeclas : public QObject {
 public:
  explicit PreviaDeTeclas(TfrmEscolheSistema& form) : QObject(&form), form_(form) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    TeclaFisica(form_, static_cast<QKeyEvent*>(event));
    return true;
  }

 private:
  TfrmEscolheSistema& form_;
};

std::vector<TBlendedBitBtn*> Digitos(const TfrmEscolheSistema& f) {
  return {f.sbt1, f.sbt2, f.sbt3, f.sbt4, f.sbt5, f.sbt6, f.sbt7, f.sbt8, f.sbt9, f.sbt0};
}

// The 26 letters and "Ç".
std::vector<TBlendedBitBtn*> Letras(const TfrmEscolheSistema& f) {
  return {f.sbtq, f.sbtw,     f.sbte, f.sbtr, f.sbtt, f.sbty, f.sbtu, f.sbti, f.sbto,
          f.sbtp, f.sbta,     f.sbts, f.sbtd, f.sbtf, f.sbtg, f.sbth, f.sbtj, f.sbtk,
          f.sbtl, f.sbtCCdil, f.sbtz, f.sbtx, f.sbtc, f.sbtv, f.sbtb, f.sbtn, f.sbtm};
}

// The eight keys that are neither digits nor letters.
std::vector<TBlendedBitBtn*> Outras(const TfrmEscolheSistema& f) {
  return {f.sbtVirgula, f.sbtponto,  f.sbtCorrigir, f.sbtSair,
          f.sbtShift,   f.sbtEspaco, f.sbtCapsLock, f.sbtConfirma};
}

bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || c == kCCedilla; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

void LigaPreviaDeTeclas(TfrmEscolheSistema& form) {
  auto* preview = new PreviaDeTeclas(form);
  for (QWidget* control : form.findChildren<QWidget*>()) control->installEventFilter(preview);
}

void TfrmEscolheSistema::ChamaTeclado(const std::string& prompt, int max_length, bool show) {
  shTeclado->setEnabled(show);
  for (TBlendedBitBtn* key : Digitos(*this)) key->setEnabled(show);
  const bool letters = Consiste::iif(max_length == 4, show, !show);
  for (TBlendedBitBtn* key : Letras(*this)) key->setEnabled(letters);
  sbtCorrigir->setEnabled(show);
  sbtConfirma->setEnabled(show);
  for (TBlendedBitBtn* button : {sbtCancelar, sbtJovTab, sbtJovBpl, sbtEnter}) {
    button->setEnabled(!show);
  }
  shTeclado->setVisible(show);
  for (const auto& keys : {Digitos(*this), Letras(*this), Outras(*this)}) {
    for (TBlendedBitBtn* key : keys) key->setVisible(show);
  }
  lblCabec->setVisible(show);
  lblInfo->setVisible(show);
  if (show) {
    lblCabec->setText(jov::cp1252::ToQString(prompt));
    InputMaxLength = max_length;
  }
}

void TfrmEscolheSistema::sbt1Click(QObject* Sender) {
  const auto* key = qobject_cast<const TBlendedBitBtn*>(Sender);
  if (key == nullptr) return;
  char code = static_cast<char>(key->Tag & 0xFF);
  FormKeyPress(Sender, code);
}

void TfrmEscolheSistema::sbtCCdilClick(QObject* Sender) {
  auto* key = qobject_cast<TBlendedBitBtn*>(Sender);
  if (key == nullptr) return;
  key->Tag = std::stoi("199");
  sbt1Click(Sender);
}

void TfrmEscolheSistema::FormKeyPress(QObject*, char& Key) {
  auto c = static_cast<unsigned char>(Key);
  if (c == kCCedillaLow) {
    c = kCCedilla;
  } else if (c >= 'a' && c <= 'z') {
    c = static_cast<unsigned char>(c - 'a' + 'A');
  }
  Key = static_cast<char>(c);
  if (!IsDigit(c) && !IsLetter(c)) return;
  const std::string typed = jov::cp1252::FromQString(lblInfo->text());
  const bool full = static_cast<long long>(typed.size()) >= InputMaxLength;
  if ((InputMaxLength == 3 && IsLetter(c)) || full) {
    Key = 0;  // refused
    return;
  }
  lblInfo->setText(jov::cp1252::ToQString(typed + static_cast<char>(c)));
}

void TfrmEscolheSistema::FormKeyDown(QObject* Sender, std::uint16_t& Key, int) {
  if (Key == kVirtualReturn) {
    sbtConfirmaClick(Sender);
  } else if (Key == kVirtualBack) {
    sbtCorrigirClick(Sender);
  }
}

void TfrmEscolheSistema::sbtCorrigirClick(QObject*) {
  QString typed = lblInfo->text();
  typed.chop(1);
  lblInfo->setText(typed);
}

void TfrmEscolheSistema::sbtConfirmaClick(QObject*) {
  const std::string typed = jov::cp1252::FromQString(lblInfo->text());
  if (typed.empty()) return;
  if (InputStep == isFilial) {
    cdFilial = typed;
    lblInfo->clear();
  } else if (InputStep == isCaixa) {
    cdCaixa = typed;
    lblInfo->clear();
  }
  InputStep = isNone;
  if (espera_ != nullptr) espera_->quit();  // ends the wait of the prompt
}

void TfrmEscolheSistema::sbtSairClick(QObject*) {
  // Ends every running event loop, the modal showing and any keyboard wait included.
  QCoreApplication::exit(0);
}

void TfrmEscolheSistema::keyPressEvent(QKeyEvent* e) {
  // Escape and Enter never close the form: every key goes to the keyboard's handlers.
  TeclaFisica(*this, e);
}

}  // namespace Cli_jov00000
