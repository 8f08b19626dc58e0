// A local calendar date and time, as log lines, file times and server stamps use it.
#pragma once

#include <compare>
#include <string>

namespace jov {

struct DateTime {
  int year = 1899;  // the zero date-time value is 30/12/1899 00:00:00
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  auto operator<=>(const DateTime&) const = default;
  bool IsZero() const { return *this == DateTime{}; }
};

// pt-BR short date and long time, "dd/MM/yyyy HH:mm:ss"; the date alone at exactly midnight.
std::string FormatDateTime(const DateTime& value);

}  // namespace jov
