#include "tests/support/wait.h"

#include <QCoreApplication>
#include <QEvent>
#include <QtTest>
#include <thread>

namespace jov::testing {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    if (QCoreApplication::instance() != nullptr) {
      QTest::qWait(5);  // delivers events, including deleteLater()
    } else {
      std::this_thread::sleep_for(5ms);
    }
  }
  return true;
}

}  // namespace jov::testing
