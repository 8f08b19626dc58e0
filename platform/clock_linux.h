// Clock on Linux: local time from the C library, sleeping with nanosleep.
#pragma once

#include <time.h>

#include <optional>

#include "platform/clock.h"

namespace jov {

class ClockLinux : public Clock {
 public:
  DateTime Now() override;
  void Sleep(int milliseconds) override;
};

// The local date and time of a point in time given in seconds and nanoseconds since the epoch.
DateTime LocalDateTime(long long seconds, long nanoseconds);

// The point in time whose local date and time is value (a wall time that the clock skips, or
// shows twice, is taken as the C library's mktime takes it); nothing when the C library cannot
// represent it.
std::optional<timespec> LocalTimeSpec(const DateTime& value);

}  // namespace jov
