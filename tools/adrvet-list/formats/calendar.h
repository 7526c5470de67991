// The Gregorian calendar's month lengths and the years a time may name,
// shared by the times the tool reads (ISO 8601 on the command line and in
// the inventory, FreeRADIUS's written dates).
#pragma once

#include <cstdint>

namespace adrvet_list {

inline constexpr int kFirstYear = 1970;
inline constexpr int kLastYear = 9999;
// The latest time the inventory holds: 9999-12-31T23:59:59Z.
inline constexpr std::int64_t kLatestTime = 253402300799;
inline constexpr const char* kYearRangeProblem = "the year must lie between 1970 and 9999";

constexpr bool is_leap_year(std::int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days in `month` (1-12) of `year`.
constexpr int days_in_month(std::int64_t year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

}  // namespace adrvet_list
