// The fixture of the real-window tests: a virtual display and the launcher's windows on it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/register.h"
#include "tests/e2e/x_display.h"
#include "tests/support/wait.h"

namespace jov::testing {

inline const std::vector<std::string> kScreens = {"frmEscolheSistema", "REV10000"};

class RealWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveRealWindowTools()) GTEST_SKIP() << "Xvfb, xdotool and sqlite3 are needed";
  }

  // Waits for a question or notice and answers it with key; false when none came.
  bool Answer(XDisplay& display, const std::string& key, std::chrono::milliseconds limit = 30s) {
    std::string box;
    if (!WaitUntil([&] { return !(box = display.Other(kScreens)).empty(); }, limit)) return false;
    return display.Keys(box, {key}) &&
           WaitUntil([&] { return display.Other(kScreens) != box; }, 10s);
  }

  std::string WaitForWindow(XDisplay& display, const std::string& title,
                            std::chrono::milliseconds limit = 30s) {
    std::string window;
    WaitUntil([&] { return !(window = display.Window(title)).empty(); }, limit);
    return window;
  }

  static bool Called(const TestRegister& caixa, const std::string& call) {
    const auto calls = caixa.StandinCalls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
};

}  // namespace jov::testing
