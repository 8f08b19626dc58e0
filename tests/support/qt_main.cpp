// Test main: brings up Qt on its offscreen platform, then runs the tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Without --fleet-db, jov-appserver keeps its fleet in the state folder when that exists, and
  // /var/lib/jov-appserver exists while a package test has the server's package installed: a
  // server a test starts would leave its fleet there and keep the purge from removing it.
  const char* state = getenv("STATE_DIRECTORY");
  if (state == nullptr || *state == '\0')
    setenv("STATE_DIRECTORY", JOV_BIN_DIR "/no-state-folder", 1);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
