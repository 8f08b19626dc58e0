// The one bounded wait of the tests: polls a condition, keeping Qt's events flowing.
#pragma once

#include <chrono>
#include <functional>

namespace jov::testing {

using namespace std::chrono_literals;

// Polls the condition about every 5 ms until it holds or the limit passes, and returns its
// last value: use it inside EXPECT_TRUE / ASSERT_TRUE so that a wait that runs out fails the
// case. While waiting it delivers Qt's events (timers, posted and deferred deletions) when a
// QCoreApplication exists, and sleeps otherwise. Blocks the calling thread for at most limit
// plus one evaluation of the condition.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s);

}  // namespace jov::testing
