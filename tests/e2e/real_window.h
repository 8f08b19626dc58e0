// The fixture of the real-window tests: a virtual display and the launcher's windows on it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/register.h"
#include "tests/support/wait.h"
#include "tests/support/x_display.h"

namespace jov::testing {

// The launcher's own windows; any other named window is a question or a notice. The progress
// window takes no input and goes away by itself.
inline const std::vector<std::string> kScreens = {"frmEscolheSistema", "REV10000",
                                                  "Atualizando o sistema"};

class RealWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveRealWindowTools()) GTEST_SKIP() << "Xvfb, xdotool and sqlite3 are needed";
  }

  // Waits for a question or notice and answers it with key; false when none was answered
  // within the limit. A box not yet ready for keys is tried again.
  bool Answer(XDisplay& display, const std::string& key, std::chrono::milliseconds limit = 30s) {
    return WaitUntil(
        [&] {
          const std::string box = display.Other(kScreens);
          return !box.empty() && display.Keys(box, {key}) &&
                 WaitUntil([&] { return display.Other(kScreens) != box; }, 5s);
        },
        limit);
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
