#include "platform/date_time.h"

#include <cstdio>

namespace jov {

std::string FormatDateTime(const DateTime& v) {
  char buffer[32];
  if (v.hour == 0 && v.minute == 0 && v.second == 0 && v.millisecond == 0) {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", v.day, v.month, v.year);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", v.day, v.month, v.year,
                  v.hour, v.minute, v.second);
  }
  return buffer;
}

}  // namespace jov
