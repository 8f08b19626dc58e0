// The download progress window on the offscreen platform: its name, place and texts, that it
// goes away, and that no operator input gets through while it shows.
#include "clientlib/download_progress_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <limits>

#include "platform/cp1252.h"
#include "tests/support/wait.h"

namespace jov::testing {
namespace {

TEST(DownloadProgressText, GivesPercentWhenTheSizeIsKnownAndBytesOtherwise) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  struct Case {
    std::int64_t received, total;
    std::string text;
  } cases[] = {
      {500, 2000, "25% (500 de 2.000 bytes)"},
      {1999, 2000, "99% (1.999 de 2.000 bytes)"},
      {2000, 2000, "100% (2.000 de 2.000 bytes)"},
      // A server that sends more than it announced, or a count gone wrong.
      {3000, 2000, "100% (2.000 de 2.000 bytes)"},
      {-5, 2000, "0% (0 de 2.000 bytes)"},
      {1234567, -1, "1.234.567 bytes"},
      {0, 0, "0 bytes"},
      {kMax - 1, kMax, "99% (9.223.372.036.854.775.806 de 9.223.372.036.854.775.807 bytes)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DownloadProgressText(c.received, c.total), c.text) << c.received << "/" << c.total;
  }
}

// Counts the input events that reach an object.
class InputRecorder : public QObject {
 public:
  int seen = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
        ++seen;
        break;
      default:
        break;
    }
    return false;
  }
};

void PostClick(QWidget* widget) {
  const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
  const QPointF global = widget->mapToGlobal(at);
  for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QCoreApplication::postEvent(
        widget, new QMouseEvent(type, at, global, Qt::LeftButton,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier));
  }
}

void PostKey(QWidget* widget, Qt::Key key) {
  for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
    QCoreApplication::postEvent(widget, new QKeyEvent(type, key, Qt::NoModifier));
  }
}

class DownloadProgressWindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty())
        << QApplication::topLevelWidgets().size() << " top-level widgets left behind";
  }
  static QString Text(QWidget* window, const char* name) {
    auto* label = window->findChild<QLabel*>(QString::fromLatin1(name));
    return label == nullptr ? QString() : label->text();
  }
};

TEST_F(DownloadProgressWindowTest, ShowsTheFileAndHowFarCentredUnderItsOwnName) {
  DownloadProgressWindow progress;
  EXPECT_EQ(progress.Window(), nullptr);
  progress.Begin("JovTab.exe.zip", 2000);
  QWidget* window = progress.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(QApplication::topLevelWidgets(), QWidgetList{window});
  EXPECT_TRUE(window->isVisible());
  ASSERT_NE(window->windowHandle(), nullptr);
  EXPECT_EQ(window->windowHandle()->title(), QStringLiteral("Atualizando o sistema"));
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((window->frameGeometry().center() - centre).manhattanLength(), 2);

  EXPECT_EQ(Text(window, "File"), QStringLiteral("Recebendo JovTab.exe.zip"));
  EXPECT_EQ(Text(window, "Progress"), QStringLiteral("0% (0 de 2.000 bytes)"));
  progress.Advance(500);
  EXPECT_EQ(Text(window, "Progress"), QStringLiteral("25% (500 de 2.000 bytes)"));
  progress.End();
  EXPECT_EQ(progress.Window(), nullptr);

  // The next file opens a window again; its size unknown, bytes are counted.
  progress.Begin("Atualiza\xe7\xe3o.zip", -1);
  ASSERT_NE(progress.Window(), nullptr);
  EXPECT_EQ(Text(progress.Window(), "File"), QStringLiteral("Recebendo Atualização.zip"));
  // Fault: the server's name was drawn as rich text, so markup in it took over the window.
  for (const QLabel* label : progress.Window()->findChildren<QLabel*>()) {
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
  }
  progress.Advance(123456);
  EXPECT_EQ(Text(progress.Window(), "Progress"), QStringLiteral("123.456 bytes"));
  progress.End();
  progress.End();  // an End too many does no harm
  progress.Advance(10);
  EXPECT_EQ(progress.Window(), nullptr);
}

TEST_F(DownloadProgressWindowTest, AnUnfinishedDownloadLeavesNoWindowBehind) {
  {
    DownloadProgressWindow progress;
    progress.Begin("JovTab.exe.zip", 2000);
    progress.Begin("JovSinc.exe.zip", 10);  // a Begin without End reuses the window
    EXPECT_EQ(QApplication::topLevelWidgets().size(), 1);
    EXPECT_EQ(Text(progress.Window(), "File"), QStringLiteral("Recebendo JovSinc.exe.zip"));
  }
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST_F(DownloadProgressWindowTest, NoInputGetsThroughWhileItShows) {
  // The launcher's screen behind the window, with a button the operator might touch.
  auto other = std::make_unique<QPushButton>(QStringLiteral("Entrar"));
  other->resize(200, 60);
  other->show();
  int clicks = 0;
  QObject::connect(other.get(), &QPushButton::clicked, [&clicks] { ++clicks; });
  InputRecorder on_button, on_window;
  other->installEventFilter(&on_button);

  DownloadProgressWindow progress;
  progress.Begin("JovTab.exe.zip", 2000);
  progress.Window()->installEventFilter(&on_window);
  PostClick(other.get());
  PostKey(other.get(), Qt::Key_Space);
  PostClick(progress.Window());
  PostKey(progress.Window(), Qt::Key_Escape);
  progress.Advance(1000);
  progress.Advance(2000);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(on_button.seen, 0);
  EXPECT_EQ(on_window.seen, 0);
  EXPECT_TRUE(progress.Window()->isVisible());
  progress.End();

  // Once the window is gone the same input works again.
  PostClick(other.get());
  EXPECT_TRUE(WaitUntil([&clicks] { return clicks == 1; }));
  EXPECT_EQ(on_button.seen, 2);
  other.reset();
}

}  // namespace
}  // namespace jov::testing
