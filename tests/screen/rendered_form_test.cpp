// The rendered screen: window size and placement, every control at its place with its looks,
// the stacking order, the pictures, and spot checks of the grabbed image. With
// JOV_SCREENSHOT_DIR set, the grabs are also written there as screen.png and keyboard.png.
#include <QDir>
#include <QFrame>
#include <cstdlib>

#include "tests/screen/screen_fixture.h"

namespace jov::testing {
namespace {

using Cli_jov00000::TfrmEscolheSistema;

struct Place {
  const char* name;
  TBlendedBitBtn* TfrmEscolheSistema::*key;
  QRect geometry;
  const char* caption;  // UTF-8
  int tag;
};

// Every key of the keyboard, from the top row down and left to right.
const Place kKeys[] = {
    {"sbt1", &TfrmEscolheSistema::sbt1, {101, 190, 57, 46}, "1", 49},
    {"sbt2", &TfrmEscolheSistema::sbt2, {161, 190, 57, 46}, "2", 50},
    {"sbt3", &TfrmEscolheSistema::sbt3, {221, 190, 57, 46}, "3", 51},
    {"sbt4", &TfrmEscolheSistema::sbt4, {281, 190, 57, 46}, "4", 52},
    {"sbt5", &TfrmEscolheSistema::sbt5, {341, 190, 57, 46}, "5", 53},
    {"sbt6", &TfrmEscolheSistema::sbt6, {401, 190, 57, 46}, "6", 54},
    {"sbt7", &TfrmEscolheSistema::sbt7, {461, 190, 57, 46}, "7", 55},
    {"sbt8", &TfrmEscolheSistema::sbt8, {521, 190, 57, 46}, "8", 56},
    {"sbt9", &TfrmEscolheSistema::sbt9, {581, 190, 57, 46}, "9", 57},
    {"sbt0", &TfrmEscolheSistema::sbt0, {641, 190, 57, 46}, "0", 48},
    {"sbtq", &TfrmEscolheSistema::sbtq, {101, 239, 57, 46}, "Q", 81},
    {"sbtw", &TfrmEscolheSistema::sbtw, {161, 239, 57, 46}, "W", 87},
    {"sbte", &TfrmEscolheSistema::sbte, {221, 239, 57, 46}, "E", 69},
    {"sbtr", &TfrmEscolheSistema::sbtr, {281, 239, 57, 46}, "R", 82},
    {"sbtt", &TfrmEscolheSistema::sbtt, {341, 239, 57, 46}, "T", 84},
    {"sbty", &TfrmEscolheSistema::sbty, {401, 239, 57, 46}, "Y", 89},
    {"sbtu", &TfrmEscolheSistema::sbtu, {461, 239, 57, 46}, "U", 85},
    {"sbti", &TfrmEscolheSistema::sbti, {521, 239, 57, 46}, "I", 73},
    {"sbto", &TfrmEscolheSistema::sbto, {581, 239, 57, 46}, "O", 79},
    {"sbtp", &TfrmEscolheSistema::sbtp, {641, 239, 57, 46}, "P", 80},
    {"sbta", &TfrmEscolheSistema::sbta, {101, 289, 57, 46}, "A", 65},
    {"sbts", &TfrmEscolheSistema::sbts, {161, 289, 57, 46}, "S", 83},
    {"sbtd", &TfrmEscolheSistema::sbtd, {221, 289, 57, 46}, "D", 68},
    {"sbtf", &TfrmEscolheSistema::sbtf, {281, 289, 57, 46}, "F", 70},
    {"sbtg", &TfrmEscolheSistema::sbtg, {341, 289, 57, 46}, "G", 71},
    {"sbth", &TfrmEscolheSistema::sbth, {401, 289, 57, 46}, "H", 72},
    {"sbtj", &TfrmEscolheSistema::sbtj, {461, 289, 57, 46}, "J", 74},
    {"sbtk", &TfrmEscolheSistema::sbtk, {521, 289, 57, 46}, "K", 75},
    {"sbtl", &TfrmEscolheSistema::sbtl, {581, 289, 57, 46}, "L", 76},
    {"sbtCCdil", &TfrmEscolheSistema::sbtCCdil, {641, 289, 57, 46}, "Ç", 0},
    {"sbtz", &TfrmEscolheSistema::sbtz, {101, 339, 57, 46}, "Z", 90},
    {"sbtx", &TfrmEscolheSistema::sbtx, {161, 339, 57, 46}, "X", 88},
    {"sbtc", &TfrmEscolheSistema::sbtc, {221, 339, 57, 46}, "C", 67},
    {"sbtv", &TfrmEscolheSistema::sbtv, {281, 339, 57, 46}, "V", 86},
    {"sbtb", &TfrmEscolheSistema::sbtb, {341, 339, 57, 46}, "B", 66},
    {"sbtn", &TfrmEscolheSistema::sbtn, {401, 339, 57, 46}, "N", 78},
    {"sbtm", &TfrmEscolheSistema::sbtm, {461, 339, 57, 46}, "M", 77},
    {"sbtVirgula", &TfrmEscolheSistema::sbtVirgula, {521, 339, 57, 46}, ",", 0},
    {"sbtponto", &TfrmEscolheSistema::sbtponto, {581, 339, 57, 46}, ".", 46},
    {"sbtCorrigir", &TfrmEscolheSistema::sbtCorrigir, {641, 339, 57, 46}, "", 0},
    {"sbtSair", &TfrmEscolheSistema::sbtSair, {101, 389, 57, 46}, "", 0},
    {"sbtShift", &TfrmEscolheSistema::sbtShift, {161, 389, 114, 46}, "Shift", 16},
    {"sbtEspaco", &TfrmEscolheSistema::sbtEspaco, {281, 389, 237, 46}, "", 32},
    {"sbtCapsLock", &TfrmEscolheSistema::sbtCapsLock, {521, 389, 117, 46}, "Caps Lock", 20},
    {"sbtConfirma", &TfrmEscolheSistema::sbtConfirma, {641, 389, 57, 46}, "", 0},
};

struct MainButton {
  TBlendedBitBtn* TfrmEscolheSistema::*button;
  int left;
  const char* caption;
  QColor fill;
};

const MainButton kMainButtons[] = {
    {&TfrmEscolheSistema::sbtCancelar, 54, "&Sair do Sistema", QColor(0xEE, 0x3E, 0x11)},
    {&TfrmEscolheSistema::sbtJovBpl, 229, "&Atualizar Sistema Jov", QColor(0xCC, 0x5B, 0x2C)},
    {&TfrmEscolheSistema::sbtJovTab, 404, "Atualizar &Tabelas", QColor(0xCC, 0x5B, 0x2C)},
    {&TfrmEscolheSistema::sbtEnter, 580, "&Entrar no Sistema", QColor(0x22, 0xDD, 0x64)},
};

bool Near(const QColor& a, const QColor& b, int tolerance) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

std::string Name(const QColor& c) { return c.name().toStdString(); }

void WriteScreenshot(const QImage& image, const char* name) {
  const char* folder = std::getenv("JOV_SCREENSHOT_DIR");
  if (folder == nullptr || *folder == '\0') return;
  const QString path = QDir(QString::fromLocal8Bit(folder)).filePath(QString::fromLatin1(name));
  EXPECT_TRUE(image.save(path)) << path.toStdString();
}

bool IsPixelFont(const QFont& font, int pixels, bool bold) {
  return font.family() == QStringLiteral("Arial") && font.pixelSize() == pixels &&
         font.bold() == bold;
}

using RenderedFormTest = ScreenTest;

TEST_F(RenderedFormTest, WindowIsEightHundredBySixHundredWithoutBorder) {
  ASSERT_TRUE(ShowForm());
  EXPECT_EQ(form->size(), QSize(800, 600));
  EXPECT_EQ(form->frameGeometry().size(), QSize(800, 600));
  EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(form->img_no_Flash->geometry(), QRect(0, 0, 800, 600));
  EXPECT_EQ(form->Image1->geometry(), QRect(0, 0, 800, 600));
  EXPECT_TRUE(form->Image1->pixmap().isNull());
  EXPECT_EQ(form->font().family(), QStringLiteral("MS Sans Serif"));
  EXPECT_EQ(form->font().pixelSize(), 11);
}

TEST(PosicaoNaTela, CentresOrOverhangsEvenly) {
  using Cli_jov00000::PosicaoNaTela;
  EXPECT_EQ(PosicaoNaTela({0, 0, 640, 480}, {800, 600}), QPoint(-80, -60));
  EXPECT_EQ(PosicaoNaTela({0, 0, 800, 600}, {800, 600}), QPoint(0, 0));
  EXPECT_EQ(PosicaoNaTela({0, 0, 1024, 768}, {800, 600}), QPoint(112, 84));
  EXPECT_EQ(PosicaoNaTela({0, 0, 799, 599}, {800, 600}), QPoint(0, 0));  // toward zero
  EXPECT_EQ(PosicaoNaTela({1920, 0, 1280, 1024}, {800, 600}), QPoint(2160, 212));
}

TEST_F(RenderedFormTest, MainButtonsStandAtTheirPlacesInTheirColours) {
  ASSERT_TRUE(ShowForm());
  const QImage screen = form->grab().toImage();
  WriteScreenshot(screen, "screen.png");
  for (const MainButton& expected : kMainButtons) {
    TBlendedBitBtn* button = form.get()->*expected.button;
    SCOPED_TRACE(expected.caption);
    EXPECT_EQ(button->geometry(), QRect(expected.left, 463, 160, 46));
    EXPECT_EQ(button->Caption(), expected.caption);
    EXPECT_TRUE(IsPixelFont(button->font(), 15, false));
    EXPECT_EQ(button->BrushColor, expected.fill);
    EXPECT_EQ(button->PenStyle, TBlendedBitBtn::TPenStyle::psClear);
    EXPECT_EQ(button->Shape, TBlendedBitBtn::TShape::stRoundRect);
    EXPECT_EQ(button->DisabledColor, QColor(0xCC, 0xCC, 0xCC));
    EXPECT_EQ(button->DisabledFontColor, QColor(Qt::white));
    EXPECT_EQ(button->Glyph.size(), QSize(34, 34));
    EXPECT_EQ(button->GlyphDisabled.size(), QSize(34, 34));
    EXPECT_TRUE(button->Glyph.hasAlphaChannel());
    EXPECT_TRUE(button->isVisible() && button->isEnabled());
    // The fill shows by the left edge; the corner is rounded off.
    EXPECT_EQ(screen.pixelColor(expected.left + 3, 463 + 23), expected.fill);
    EXPECT_NE(screen.pixelColor(expected.left, 463), expected.fill);
    // The glyph and the caption stay inside the button.
    const auto place = button->Place();
    EXPECT_TRUE(button->rect().contains(place.glyph)) << place.glyph.x();
    EXPECT_TRUE(button->rect().contains(place.text)) << place.text.x();
    EXPECT_FALSE(place.glyph.intersects(place.text));
  }
  EXPECT_EQ(form->sbtJovTab->Layout, TBlendedBitBtn::TButtonLayout::blGlyphRight);
  EXPECT_EQ(form->sbtJovTab->Place().glyph.right(), 160 - 2 - 1);
  EXPECT_EQ(form->sbtJovBpl->Layout, TBlendedBitBtn::TButtonLayout::blGlyphRight);
  EXPECT_EQ(form->sbtJovBpl->Place().glyph.left() - form->sbtJovBpl->Place().text.right() - 1, 20);
  EXPECT_EQ(form->sbtCancelar->Place().text.left() - form->sbtCancelar->Place().glyph.right() - 1,
            5);
  EXPECT_EQ(form->sbtCancelar->FontColor, QColor(Qt::white));
  EXPECT_EQ(form->sbtEnter->FontColor, QColor(Qt::white));
}

TEST_F(RenderedFormTest, KeyboardStandsAtItsPlacesWhenShown) {
  ASSERT_TRUE(ShowForm());
  form->ChamaTeclado("Informe a Filial", 4, true);
  QTest::keyClick(form.get(), '0');
  QTest::keyClick(form.get(), '1');
  const QImage screen = form->grab().toImage();
  WriteScreenshot(screen, "keyboard.png");

  EXPECT_EQ(form->shTeclado->geometry(), QRect(91, 121, 616, 321));
  EXPECT_EQ(screen.pixelColor(91, 200), QColor(Qt::black)) << "outline";
  EXPECT_EQ(screen.pixelColor(95, 200), QColor(Qt::white)) << "panel";
  EXPECT_EQ(form->lblCabec->geometry(), QRect(101, 128, 231, 25));
  EXPECT_TRUE(IsPixelFont(form->lblCabec->font(), 16, true));
  EXPECT_EQ(form->lblInfo->geometry(), QRect(109, 156, 224, 28));
  EXPECT_TRUE(IsPixelFont(form->lblInfo->font(), 24, true));
  EXPECT_FALSE(form->lblCabec->isEnabled());
  EXPECT_FALSE(form->lblInfo->isEnabled());

  for (const Place& expected : kKeys) {
    TBlendedBitBtn* key = form.get()->*expected.key;
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(key->geometry(), expected.geometry);
    EXPECT_EQ(key->Caption(), cp1252::FromUtf8(expected.caption));
    EXPECT_EQ(key->Tag, expected.tag);
    EXPECT_TRUE(key->isVisible());
    const bool wide = key == form->sbtShift || key == form->sbtCapsLock;
    EXPECT_TRUE(IsPixelFont(key->font(), wide ? 21 : 24, false));
    EXPECT_EQ(key->FontColor, QColor(Qt::white));
    QColor face = key->isEnabled() ? QColor(128, 128, 128) : QColor(204, 204, 204);
    if (key == form->sbtConfirma) face = QColor(0x22, 0xDD, 0x64);
    const QPoint edge = expected.geometry.topLeft() + QPoint(3, 23);
    EXPECT_EQ(screen.pixelColor(edge), face) << Name(screen.pixelColor(edge));
  }
  for (TBlendedBitBtn* key : {form->sbtCorrigir, form->sbtConfirma, form->sbtSair}) {
    EXPECT_EQ(key->Glyph.size(), QSize(34, 34));
  }
  // The main buttons show their disabled look.
  for (const MainButton& expected : kMainButtons) {
    EXPECT_EQ(screen.pixelColor(expected.left + 3, 463 + 23), QColor(0xCC, 0xCC, 0xCC));
  }
}

TEST_F(RenderedFormTest, KeyboardStartsHiddenAndMostlyDisabled) {
  form = NewForm();
  std::vector<QWidget*> hidden = {form->shTeclado, form->lblCabec, form->lblInfo,
                                  form->imgAberturaJov, form->imgAberturaTRV};
  for (const Place& key : kKeys) hidden.push_back(form.get()->*key.key);
  for (QWidget* widget : hidden) EXPECT_TRUE(widget->isHidden());
  EXPECT_FALSE(form->shTeclado->isEnabled());
  for (const Place& expected : kKeys) {
    const TBlendedBitBtn* key = form.get()->*expected.key;
    const bool letter = (expected.tag >= 'A' && expected.tag <= 'Z') || key == form->sbtCCdil;
    EXPECT_EQ(key->isEnabled(), letter) << expected.name;
  }
  EXPECT_EQ(form->lblCabec->text(), QStringLiteral("Informe a Filial"));
  EXPECT_EQ(form->lblInfo->text(), QString());
}

TEST_F(RenderedFormTest, PicturesLieUnderEverythingAndKeysOverThePanel) {
  form = NewForm();
  QList<QWidget*> order;  // bottom of the stacking order first
  for (QObject* child : form->children()) {
    if (auto* widget = qobject_cast<QWidget*>(child)) order.append(widget);
  }
  ASSERT_EQ(order.size(), 4 + 1 + 4 + 1 + 45 + 2);
  EXPECT_EQ(order[0], form->img_no_Flash);
  EXPECT_EQ(order[1], form->Image1);
  EXPECT_EQ(order[2], form->imgAberturaJov);
  EXPECT_EQ(order[3], form->imgAberturaTRV);
  const auto panel = order.indexOf(form->shTeclado);
  for (const Place& key : kKeys) EXPECT_GT(order.indexOf(form.get()->*key.key), panel);
  EXPECT_GT(order.indexOf(form->lblCabec), panel);
  EXPECT_GT(order.indexOf(form->lblInfo), panel);
}

TEST_F(RenderedFormTest, OpeningPicturesFillTheWindow) {
  const QImage jov(QStringLiteral(":/assets/abertura_jov.jpg"));
  const QImage trv(QStringLiteral(":/assets/abertura_trv.jpg"));
  ASSERT_EQ(jov.size(), QSize(800, 600));
  ASSERT_EQ(trv.size(), QSize(800, 530));

  ASSERT_TRUE(ShowForm());
  EXPECT_EQ(form->imgAberturaJov->geometry(), QRect(538, 133, 164, 67));
  EXPECT_EQ(form->imgAberturaTRV->geometry(), QRect(537, 61, 164, 67));
  QImage screen = form->grab().toImage();
  for (const QPoint at : {QPoint(10, 10), QPoint(400, 300), QPoint(790, 590)}) {
    EXPECT_TRUE(Near(screen.pixelColor(at), jov.pixelColor(at), 2)) << at.x();
  }
  form.reset();

  fake.host.path = "/caixa/trv.exe";
  ASSERT_TRUE(ShowForm());
  screen = form->grab().toImage();
  // Stretched from 530 to 600 rows: the picture's last rows reach the window's bottom.
  for (const QPoint at : {QPoint(10, 5), QPoint(400, 300), QPoint(20, 596)}) {
    const QPoint source(at.x(), at.y() * 530 / 600);
    EXPECT_TRUE(Near(screen.pixelColor(at), trv.pixelColor(source), 12))
        << at.y() << " " << Name(screen.pixelColor(at)) << " " << Name(trv.pixelColor(source));
  }
}

TEST_F(RenderedFormTest, FooterIsGreyArialAtTheLowerRight) {
  ASSERT_TRUE(ShowForm());
  EXPECT_EQ(form->lblCodTela->pos(), QPoint(648, 559));
  EXPECT_GE(form->lblCodTela->width(), 51) << "grows with its text";
  EXPECT_TRUE(IsPixelFont(form->lblCodTela->font(), 11, false));
  EXPECT_EQ(form->lblCodTela->palette().color(QPalette::WindowText), QColor(0x80, 0x80, 0x80));
  EXPECT_FALSE(form->lblCodTela->autoFillBackground());
  // Transparent: the background picture shows between the letters.
  const QImage jov(QStringLiteral(":/assets/abertura_jov.jpg"));
  const QImage screen = form->grab().toImage();
  const QPoint below(form->lblCodTela->x() + 2, form->lblCodTela->geometry().bottom());
  EXPECT_TRUE(Near(screen.pixelColor(below), jov.pixelColor(below), 2));
}

}  // namespace
}  // namespace jov::testing
