// The real dialogs: modal, answered by keys as a register's operator would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include "clientlib/dialogs_qt.h"
#include "platform/cp1252.h"
#include "tests/support/wait.h"

namespace jov::testing {
namespace {

// Once a modal dialog is up, records its text and presses the key on it.
void AnswerWith(Qt::Key key, QString* text) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, key, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    *text = box->text();
    QTest::keyClick(box, key);
    poll->deleteLater();
  });
  poll->start(5);
}

class DialogsQtTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(WaitUntil([] { return QApplication::topLevelWidgets().isEmpty(); }))
        << "a dialog was left behind";
  }
  DialogsQt dialogs;
  QString seen;
};

TEST_F(DialogsQtTest, EnterAnswersYesAndEscapeAnswersNo) {
  AnswerWith(Qt::Key_Return, &seen);
  EXPECT_TRUE(dialogs.Confirm("Deseja atualizá-lo?"_w));
  EXPECT_EQ(seen, QStringLiteral("Deseja atualizá-lo?"));
  AnswerWith(Qt::Key_Escape, &seen);
  EXPECT_FALSE(dialogs.Confirm("Deseja continuar?"));
}

TEST_F(DialogsQtTest, NoticesAndErrorsWaitForTheOperator) {
  AnswerWith(Qt::Key_Return, &seen);
  dialogs.Notify("Opera\xE7\xE3o bloqueada!", 0);
  EXPECT_EQ(seen, QStringLiteral("Operação bloqueada!"));
  AnswerWith(Qt::Key_Escape, &seen);
  dialogs.ShowException("Cannot connect");
  EXPECT_EQ(seen, QStringLiteral("Cannot connect"));
  AnswerWith(Qt::Key_Return, &seen);
  dialogs.ShowMessage("pronto");
  EXPECT_EQ(seen, QStringLiteral("pronto"));
}

}  // namespace
}  // namespace jov::testing
