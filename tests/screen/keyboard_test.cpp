// The on-screen keyboard: prompts, the shared key filter, correction, confirmation and the
// enabled and visible states, driven by physical keys, mouse clicks and touches.
#include <QSignalSpy>
#include <QTimer>

#include "tests/screen/screen_fixture.h"

namespace jov::testing {
namespace {

using Cli_jov00000::isCaixa;
using Cli_jov00000::isFilial;
using Cli_jov00000::isNone;

QPointingDevice* TouchScreen() {
  static QPointingDevice* device = QTest::createTouchDevice();
  return device;
}

class KeyboardTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    ASSERT_TRUE(ShowForm());
  }

  void BranchPrompt() {
    form->InputStep = isFilial;
    form->ChamaTeclado("Informe a Filial", 4, true);
  }
  void RegisterPrompt() {
    form->InputStep = isCaixa;
    form->ChamaTeclado("Informe o Caixa", 3, true);
  }

  void Press(char c) { QTest::keyClick(form.get(), c); }
  void PressCCedilla() {
    QTest::sendKeyEvent(QTest::Click, form.get(), Qt::Key_Ccedilla, QString(QChar(0xE7)),
                        Qt::NoModifier);
  }
  void PressKey(Qt::Key key) { QTest::keyClick(form.get(), key); }
  void Click(TBlendedBitBtn* key) { QTest::mouseClick(key, Qt::LeftButton); }
  void Touch(TBlendedBitBtn* key) {
    const QPoint at = key->geometry().center();
    QTest::touchEvent(form.get(), TouchScreen()).press(0, at, form.get());
    EXPECT_EQ(key->isDown(), key->isEnabled()) << "a touch held on an enabled key presses it";
    QTest::touchEvent(form.get(), TouchScreen()).release(0, at, form.get());
  }

  std::vector<TBlendedBitBtn*> MainButtons() const {
    return {form->sbtCancelar, form->sbtJovTab, form->sbtJovBpl, form->sbtEnter};
  }
  std::vector<TBlendedBitBtn*> NeverEnabled() const {
    return {form->sbtVirgula, form->sbtponto,  form->sbtSair,
            form->sbtShift,   form->sbtEspaco, form->sbtCapsLock};
  }
  std::vector<TBlendedBitBtn*> Letters() const {
    return {form->sbtq, form->sbtw, form->sbte, form->sbtr, form->sbtt, form->sbty,    form->sbtu,
            form->sbti, form->sbto, form->sbtp, form->sbta, form->sbts, form->sbtd,    form->sbtf,
            form->sbtg, form->sbth, form->sbtj, form->sbtk, form->sbtl, form->sbtz,    form->sbtx,
            form->sbtc, form->sbtv, form->sbtb, form->sbtn, form->sbtm, form->sbtCCdil};
  }
};

TEST_F(KeyboardTest, NothingCanBeTypedBeforeTheFirstPrompt) {
  EXPECT_EQ(form->InputMaxLength, 0);
  EXPECT_FALSE(form->shTeclado->isVisible());
  Press('1');
  Press('a');
  EXPECT_EQ(Typed(), "");
}

TEST_F(KeyboardTest, BranchPromptTakesFourDigitsOrLettersFromEveryKeyboard) {
  BranchPrompt();
  EXPECT_EQ(form->lblCabec->text(), QStringLiteral("Informe a Filial"));
  EXPECT_EQ(form->InputMaxLength, 4);

  Click(form->sbt0);
  Touch(form->sbt7);
  Press('x');
  Touch(form->sbtCCdil);
  EXPECT_EQ(Typed(), "07X\xC7");

  // A fifth character is refused from any keyboard.
  Press('5');
  Click(form->sbt5);
  Touch(form->sbtq);
  EXPECT_EQ(Typed(), "07X\xC7");

  // Backspace, then a new character, replaces the last one.
  PressKey(Qt::Key_Backspace);
  EXPECT_EQ(Typed(), "07X");
  Click(form->sbtq);
  EXPECT_EQ(Typed(), "07XQ");
  Click(form->sbtCorrigir);
  Click(form->sbtCorrigir);
  EXPECT_EQ(Typed(), "07");
}

TEST_F(KeyboardTest, RegisterPromptRefusesLettersAndAFourthDigit) {
  RegisterPrompt();
  EXPECT_EQ(form->lblCabec->text(), QStringLiteral("Informe o Caixa"));
  for (TBlendedBitBtn* key : Letters()) {
    EXPECT_TRUE(key->isVisible() && !key->isEnabled()) << key->Caption();
  }
  Press('a');
  Press('Q');
  PressCCedilla();
  Click(form->sbtq);
  Touch(form->sbtCCdil);
  EXPECT_EQ(Typed(), "");

  Press('1');
  Click(form->sbt2);
  Touch(form->sbt3);
  Press('4');
  Click(form->sbt5);
  EXPECT_EQ(Typed(), "123");

  PressKey(Qt::Key_Return);
  EXPECT_EQ(form->cdCaixa, "123");
  EXPECT_EQ(form->cdFilial, "");
  EXPECT_EQ(form->InputStep, isNone);
  EXPECT_EQ(Typed(), "");
}

TEST_F(KeyboardTest, TypedLettersBecomeCapitalsAndOtherCharactersAreIgnored) {
  BranchPrompt();
  Press('a');
  PressCCedilla();
  EXPECT_EQ(Typed(), "A\xC7");
  // Space, point, comma, other accented letters, Enter and Backspace type nothing.
  Press(' ');
  Press('.');
  Press(',');
  QTest::sendKeyEvent(QTest::Click, form.get(), Qt::Key_Eacute, QString(QChar(0xE9)),
                      Qt::NoModifier);
  EXPECT_EQ(Typed(), "A\xC7");
  // A letter typed with Alt belongs to the buttons' access keys, not to the prompt.
  QTest::keyClick(form.get(), Qt::Key_B, Qt::AltModifier);
  EXPECT_EQ(Typed(), "A\xC7");
}

TEST_F(KeyboardTest, ConfirmingAnEmptyEntryKeepsThePrompt) {
  BranchPrompt();
  PressKey(Qt::Key_Return);
  Click(form->sbtConfirma);
  Press('9');
  PressKey(Qt::Key_Backspace);
  PressKey(Qt::Key_Backspace);  // an empty text stays empty
  QTest::keyClick(form.get(), Qt::Key_Enter, Qt::ShiftModifier);
  EXPECT_EQ(form->InputStep, isFilial);
  EXPECT_EQ(form->cdFilial, "");
  EXPECT_TRUE(form->shTeclado->isVisible());
  EXPECT_EQ(Typed(), "");
}

TEST_F(KeyboardTest, BranchThenRegisterThenHidden) {
  BranchPrompt();
  Click(form->sbt1);
  Press('2');
  Click(form->sbta);
  Touch(form->sbtb);
  Touch(form->sbtConfirma);
  EXPECT_EQ(form->cdFilial, "12AB");
  EXPECT_EQ(form->InputStep, isNone);

  RegisterPrompt();
  EXPECT_EQ(Typed(), "") << "the register prompt starts empty";
  Press('7');
  QTest::keyClick(form.get(), Qt::Key_Return, Qt::ShiftModifier);  // Shift is ignored
  EXPECT_EQ(form->cdCaixa, "7");
  EXPECT_EQ(form->cdFilial, "12AB");

  form->ChamaTeclado("", 1, false);
  EXPECT_FALSE(form->shTeclado->isVisible());
  EXPECT_FALSE(form->lblCabec->isVisible());
  EXPECT_FALSE(form->lblInfo->isVisible());
  EXPECT_EQ(form->lblCabec->text(), QStringLiteral("Informe o Caixa"));
  EXPECT_EQ(form->InputMaxLength, 3) << "hiding keeps the last limit";
  // Letters are back to the form's state: enabled, and unseen.
  EXPECT_TRUE(form->sbtq->isEnabled());
  EXPECT_FALSE(form->sbtq->isVisible());
  EXPECT_FALSE(form->sbt1->isEnabled());

  // Once done, a confirmation no longer changes the codes.
  Press('8');
  PressKey(Qt::Key_Return);
  EXPECT_EQ(form->cdCaixa, "7");
  EXPECT_EQ(form->cdFilial, "12AB");
}

TEST_F(KeyboardTest, MainButtonsAreDisabledWhileTheKeyboardShows) {
  form->sbtEnter->setEnabled(false);
  BranchPrompt();
  for (TBlendedBitBtn* button : MainButtons()) {
    EXPECT_FALSE(button->isEnabled()) << button->Caption();
  }
  QSignalSpy clicked(form->sbtCancelar, &QAbstractButton::clicked);
  Click(form->sbtCancelar);
  EXPECT_EQ(clicked.count(), 0);
  EXPECT_TRUE(form->isVisible());

  RegisterPrompt();
  for (TBlendedBitBtn* button : MainButtons()) EXPECT_FALSE(button->isEnabled());

  form->ChamaTeclado("", 1, false);
  for (TBlendedBitBtn* button : MainButtons()) {
    EXPECT_TRUE(button->isEnabled()) << button->Caption();
  }
}

TEST_F(KeyboardTest, SixKeysAreShownButNeverEnabled) {
  for (bool branch : {true, false}) {
    if (branch) {
      BranchPrompt();
    } else {
      RegisterPrompt();
    }
    for (TBlendedBitBtn* key : NeverEnabled()) {
      EXPECT_TRUE(key->isVisible()) << key->Caption();
      EXPECT_FALSE(key->isEnabled()) << key->Caption();
      QSignalSpy clicked(key, &QAbstractButton::clicked);
      Click(key);
      Touch(key);
      EXPECT_EQ(clicked.count(), 0) << key->Caption();
    }
    EXPECT_EQ(Typed(), "");
    for (TBlendedBitBtn* key : {form->sbtCorrigir, form->sbtConfirma, form->sbt0}) {
      EXPECT_TRUE(key->isVisible() && key->isEnabled());
    }
  }
}

TEST_F(KeyboardTest, KeysSentToAnyControlReachTheForm) {
  BranchPrompt();
  QTest::keyClick(form->lblInfo, '4');
  QTest::keyClick(form->sbt9, 'k');
  EXPECT_EQ(Typed(), "4K");
  // Space on a key does not press it; the form takes the key and ignores it.
  QSignalSpy clicked(form->sbtq, &QAbstractButton::clicked);
  QTest::keyClick(form->sbtq, Qt::Key_Space);
  EXPECT_EQ(clicked.count(), 0);
  QTest::keyClick(form->shTeclado, Qt::Key_Backspace);
  QTest::keyClick(form->sbtConfirma, Qt::Key_Return);
  EXPECT_EQ(form->cdFilial, "4");
}

TEST_F(KeyboardTest, TheCedillaKeySetsItsOwnCode) {
  BranchPrompt();
  form->sbtCCdil->Tag = 'Z';
  Click(form->sbtCCdil);
  EXPECT_EQ(form->sbtCCdil->Tag, 199);
  EXPECT_EQ(Typed(), "\xC7");
}

TEST_F(KeyboardTest, TheExitKeyEndsTheModalShowing) {
  form->hide();
  bool ended = false;
  QTimer::singleShot(0, form.get(), [this] { form->sbtSairClick(form->sbtSair); });
  QTimer guard;  // bounds the wait should the exit not end the showing
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, form.get(), &QDialog::reject);
  guard.start(10000);
  form->exec();
  ended = guard.isActive();
  // The application was asked to end; start and leave its loop once so the next test runs.
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace jov::testing
