// The real dialogs: modal, answered by keys as a register's operator would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
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

int VisibleBoxes() {
  int boxes = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible()) ++boxes;
  }
  return boxes;
}

TEST_F(DialogsQtTest, EndingTheModalWindowsAboveAWindowAnswersNoAndKeepsThatWindow) {
  QDialog form;  // the launcher's own modal showing, which the shutdown closes by itself
  int ended = -1;
  bool answer = true;
  bool form_kept = false;
  QTimer poll;  // once a notice is up above a question, both above the form, end them
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (ended < 0 && VisibleBoxes() == 2) ended = EndModalWindowsAbove(&form);
  });
  poll.start(5);
  QTimer guard;  // bounds the test should the boxes never end
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { EndModalWindowsAbove(nullptr); });
  guard.start(10000);
  QTimer::singleShot(0, &form, [&] {
    QTimer::singleShot(0, [&] { dialogs.Notify("Aguarde", 3); });  // inside the question
    answer = dialogs.Confirm("Deseja continuar?");
    form_kept = form.isVisible() && QApplication::activeModalWidget() == &form;
    form.reject();
  });
  form.exec();
  EXPECT_TRUE(guard.isActive()) << "the boxes did not end";
  EXPECT_EQ(ended, 2);
  EXPECT_FALSE(answer) << "a question nobody answered counts as No";
  EXPECT_TRUE(form_kept);
  EXPECT_EQ(EndModalWindowsAbove(nullptr), 0);
}

}  // namespace
}  // namespace jov::testing
