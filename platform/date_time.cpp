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

bool IsValidDateTime(const DateTime& v) {
  if (v.year < 1 || v.year > 9999 || v.month < 1 || v.month > 12 || v.day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (v.year % 4 == 0 && v.year % 100 != 0) || v.year % 400 == 0;
  const int days = v.month == 2 && leap ? 29 : kDays[v.month - 1];
  return v.day <= days && v.hour >= 0 && v.hour < 24 && v.minute >= 0 && v.minute < 60 &&
         v.second >= 0 && v.second < 60 && v.millisecond >= 0 && v.millisecond < 1000;
}

}  // namespace jov
