// The Gregorian calendar's month lengths, shared by the times the tool reads
// (ISO 8601 on the command line, FreeRADIUS's written dates).
#pragma once

#include <cstdint>

namespace adrvet_list {

constexpr bool is_leap_year(std::int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days in `month` (1-12) of `year`.
constexpr int days_in_month(std::int64_t year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

}  // namespace adrvet_list
