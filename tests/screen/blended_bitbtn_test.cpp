// TBlendedBitBtn: placement of glyph and caption, the three looks, the access key, and clicks
// by mouse and touch.
#include "clientlib/blended_bitbtn.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <memory>

#include "platform/cp1252.h"
#include "tests/support/wait.h"

namespace jov {
namespace {

using L = TBlendedBitBtn::TButtonLayout;

QPointingDevice* TouchScreen() {
  static QPointingDevice* device = QTest::createTouchDevice();
  return device;
}

QPixmap Solid(const QColor& colour, int size = 34) {
  QPixmap pixmap(size, size);
  pixmap.fill(colour);
  return pixmap;
}

TEST(CalcButtonLayout, PlacesGlyphAndTextAsTheBitmapButtonsDo) {
  // Centred together, fixed spacing.
  GlyphAndText at = CalcButtonLayout({160, 46}, {34, 34}, {106, 17}, L::blGlyphLeft, -1, 5);
  EXPECT_EQ(at.glyph, QPoint(8, 6));
  EXPECT_EQ(at.text, QPoint(47, 15));
  // Glyph right, fixed margin.
  at = CalcButtonLayout({160, 46}, {34, 34}, {114, 17}, L::blGlyphRight, 2, 5);
  EXPECT_EQ(at.glyph, QPoint(124, 6));
  EXPECT_EQ(at.text, QPoint(5, 15));
  // Margin and spacing both automatic: three equal gaps.
  at = CalcButtonLayout({160, 46}, {34, 34}, {100, 17}, L::blGlyphLeft, -1, -1);
  EXPECT_EQ(at.glyph.x(), 8);
  EXPECT_EQ(at.text.x(), 50);
  // Fixed margin, automatic spacing: the text is centred in the room after the glyph.
  at = CalcButtonLayout({160, 46}, {34, 34}, {60, 17}, L::blGlyphLeft, 4, -1);
  EXPECT_EQ(at.text.x(), 69);
  // Without a glyph the spacing does not count.
  at = CalcButtonLayout({160, 46}, {0, 0}, {50, 17}, L::blGlyphRight, -1, 20);
  EXPECT_EQ(at.text.x(), 55);
  // Glyph on top, without a caption: centred both ways.
  at = CalcButtonLayout({57, 46}, {20, 20}, {0, 0}, L::blGlyphTop, -1, 4);
  EXPECT_EQ(at.glyph, QPoint(19, 13));
  at = CalcButtonLayout({57, 46}, {20, 20}, {30, 10}, L::blGlyphBottom, 3, 2);
  EXPECT_EQ(at.glyph, QPoint(19, 23));
  EXPECT_EQ(at.text, QPoint(14, 11));
}

TEST(ColorFromStored, RedIsTheLowestByte) {
  EXPECT_EQ(ColorFromStored(1130222), QColor(0xEE, 0x3E, 0x11));
  EXPECT_EQ(ColorFromStored(2907084), QColor(0xCC, 0x5B, 0x2C));
  EXPECT_EQ(ColorFromStored(6610210), QColor(0x22, 0xDD, 0x64));
  EXPECT_EQ(ColorFromStored(13421772), QColor(204, 204, 204));
}

class BlendedBitBtnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<QWidget>();
    window->resize(300, 100);
    button = new TBlendedBitBtn(window.get());
    button->setGeometry(20, 20, 160, 46);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(15);
    button->setFont(font);
    button->BrushColor = QColor(0xEE, 0x3E, 0x11);
    button->DownColor = Qt::black;
    button->DisabledColor = QColor(204, 204, 204);
    button->OnClick = [this](TBlendedBitBtn* sender) { clicks.push_back(sender); };
  }
  void TearDown() override {
    window.reset();
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
  }

  QColor FillAt(int x, int y) { return button->grab().toImage().pixelColor(x, y); }

  std::unique_ptr<QWidget> window;
  TBlendedBitBtn* button = nullptr;
  std::vector<TBlendedBitBtn*> clicks;
};

TEST_F(BlendedBitBtnTest, DrawsNormalPressedAndDisabledLooks) {
  button->SetCaption("&Sair do Sistema");
  const QPoint fill(3, 23);  // inside the shape, clear of glyph and caption
  EXPECT_EQ(FillAt(fill.x(), fill.y()), button->BrushColor);
  button->setDown(true);
  EXPECT_EQ(FillAt(fill.x(), fill.y()), QColor(Qt::black));
  button->setDown(false);
  button->setEnabled(false);
  EXPECT_EQ(FillAt(fill.x(), fill.y()), QColor(204, 204, 204));
  // The corners are curved: the very corner pixel is not filled.
  button->setEnabled(true);
  EXPECT_NE(FillAt(0, 0), button->BrushColor);
}

TEST_F(BlendedBitBtnTest, DisabledShowsItsOwnGlyph) {
  button->Glyph = Solid(Qt::blue);
  button->GlyphDisabled = Solid(Qt::green);
  const QPoint middle = button->Place().glyph.center();
  EXPECT_EQ(FillAt(middle.x(), middle.y()), QColor(Qt::blue));
  button->setEnabled(false);
  EXPECT_EQ(FillAt(middle.x(), middle.y()), QColor(Qt::green));
  button->GlyphDisabled = QPixmap();
  EXPECT_EQ(FillAt(middle.x(), middle.y()), QColor(Qt::blue));
}

TEST_F(BlendedBitBtnTest, ALongCaptionWrapsInsideTheButton) {
  button->SetCaption("&Atualizar Sistema Jov");
  button->Glyph = Solid(Qt::white);
  button->Layout = L::blGlyphRight;
  button->Spacing = 20;
  const auto place = button->Place();
  const int line = QFontMetrics(button->font()).height();
  EXPECT_GE(place.text.height(), 2 * line);
  EXPECT_GE(place.text.left(), 0);
  EXPECT_LE(place.text.right() + 20, place.glyph.left());
  EXPECT_LE(place.glyph.right(), button->width());
  EXPECT_LE(place.text.bottom(), button->height());
}

// The "&" underlines the letter after it: the underline reaches below every pixel that the
// letter alone inks.
TEST_F(BlendedBitBtnTest, TheAccessKeyIsUnderlined) {
  button->BrushColor = Qt::black;
  button->FontColor = Qt::white;
  auto lowest_ink = [this](const std::string& caption) {
    button->SetCaption(caption);
    const QImage image = button->grab().toImage();
    int lowest = -1;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 8; x < image.width() - 8; ++x) {
        if (qGray(image.pixel(x, y)) > 128) lowest = y;
      }
    }
    return lowest;
  };
  const int plain = lowest_ink("S");
  const int marked = lowest_ink("&S");
  ASSERT_GT(plain, 0);
  EXPECT_GT(marked, plain);
  EXPECT_EQ(button->Caption(), "&S");
  EXPECT_EQ(lowest_ink("&&S"), plain) << "a doubled mark is a plain \"&\"";
}

TEST_F(BlendedBitBtnTest, MouseAndTouchClickIt) {
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0], button);

  const QPoint inside = button->geometry().center();
  QTest::touchEvent(window.get(), TouchScreen()).press(0, inside, window.get());
  EXPECT_TRUE(button->isDown());
  QTest::touchEvent(window.get(), TouchScreen()).release(0, inside, window.get());
  EXPECT_FALSE(button->isDown());
  EXPECT_EQ(clicks.size(), 2u);

  // A touch that slides off before it is lifted does not click.
  const QPoint outside(250, 90);
  QTest::touchEvent(window.get(), TouchScreen()).press(0, inside, window.get());
  QTest::touchEvent(window.get(), TouchScreen()).move(0, outside, window.get());
  EXPECT_FALSE(button->isDown());
  QTest::touchEvent(window.get(), TouchScreen()).release(0, outside, window.get());
  EXPECT_EQ(clicks.size(), 2u);

  button->setEnabled(false);
  QTest::mouseClick(button, Qt::LeftButton);
  QTest::touchEvent(window.get(), TouchScreen()).press(0, inside, window.get());
  QTest::touchEvent(window.get(), TouchScreen()).release(0, inside, window.get());
  EXPECT_EQ(clicks.size(), 2u);
}

TEST_F(BlendedBitBtnTest, AltWithTheMarkedLetterClicksIt) {
  button->SetCaption("&Entrar no Sistema");
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(window.get(), Qt::Key_N, Qt::AltModifier);
  QTest::keyClick(window.get(), Qt::Key_E, Qt::AltModifier);
  EXPECT_TRUE(jov::testing::WaitUntil([&] { return clicks.size() == 1u; }))
      << clicks.size() << " clicks";
  EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
}

}  // namespace
}  // namespace jov
