// The wall clock and the blocking pause.
#pragma once

#include "platform/date_time.h"

namespace jov {

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time (the process's TZ).
  virtual DateTime Now() = 0;
  // Blocks the calling thread for the given milliseconds without spinning.
  virtual void Sleep(int milliseconds) = 0;
};

}  // namespace jov
