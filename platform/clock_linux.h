// Clock on Linux: local time from the C library, sleeping with nanosleep.
#pragma once

#include "platform/clock.h"

namespace jov {

class ClockLinux : public Clock {
 public:
  DateTime Now() override;
  void Sleep(int milliseconds) override;
};

// The local date and time of a point in time given in seconds and nanoseconds since the epoch.
DateTime LocalDateTime(long long seconds, long nanoseconds);

}  // namespace jov
