#include "platform/clock_linux.h"

#include <cerrno>
#include <ctime>

namespace jov {

std::optional<timespec> LocalTimeSpec(const DateTime& value) {
  std::tm tm{};
  tm.tm_year = value.year - 1900;
  tm.tm_mon = value.month - 1;
  tm.tm_mday = value.day;
  tm.tm_hour = value.hour;
  tm.tm_min = value.minute;
  tm.tm_sec = value.second;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) && value != LocalDateTime(-1, 0)) return std::nullopt;
  return timespec{t, static_cast<long>(value.millisecond) * 1000000L};
}

DateTime LocalDateTime(long long seconds, long nanoseconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  return DateTime{tm.tm_year + 1900,
                  tm.tm_mon + 1,
                  tm.tm_mday,
                  tm.tm_hour,
                  tm.tm_min,
                  tm.tm_sec,
                  static_cast<int>(nanoseconds / 1000000)};
}

DateTime ClockLinux::Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return LocalDateTime(now.tv_sec, now.tv_nsec);
}

void ClockLinux::Sleep(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec remaining{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace jov
