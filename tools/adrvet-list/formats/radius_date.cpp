#include "formats/radius_date.h"

#include <array>
#include <ctime>
#include <vector>

#include "formats/calendar.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};

constexpr const char* kShape =
    R"(not a date FreeRADIUS writes: "Dec 31 2026 23:59:59 UTC", "31 Dec 2026" and the like)";

// 1 to 12 for a month's name, whole or its first three letters; 0 for none.
int month_named(std::string_view word) {
  const std::string name = text::lower_ascii(word);
  for (std::size_t i = 0; i < kMonths.size(); ++i) {
    if (name == kMonths[i] || (name.size() == 3 && kMonths[i].starts_with(name))) {
      return static_cast<int>(i) + 1;
    }
  }
  return 0;
}

// A number of 1 to `digits` decimal digits, or -1.
int number_of(std::string_view word, std::size_t digits) {
  if (word.empty() || word.size() > digits) {
    return -1;
  }
  int value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') {
      return -1;
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

// "HH:MM" or "HH:MM:SS" into `tm`; false when it is neither.
bool read_time_of_day(std::string_view word, std::tm& tm) {
  std::vector<int> parts;
  while (!word.empty()) {
    const std::size_t colon = word.find(':');
    parts.push_back(number_of(word.substr(0, colon), 2));
    word = colon == std::string_view::npos ? std::string_view() : word.substr(colon + 1);
    if (colon != std::string_view::npos && word.empty()) {
      return false;
    }
  }
  if (parts.size() < 2 || parts.size() > 3 || parts[0] < 0 || parts[0] > 23 || parts[1] < 0 ||
      parts[1] > 59 || (parts.size() == 3 && (parts[2] < 0 || parts[2] > 59))) {
    return false;
  }
  tm.tm_hour = parts[0];
  tm.tm_min = parts[1];
  tm.tm_sec = parts.size() == 3 ? parts[2] : 0;
  return true;
}

// Seconds since the epoch of a string of digits, or a problem.
RadiusDate epoch_seconds(std::string_view word) {
  std::int64_t seconds = 0;
  for (const char c : word) {
    seconds = seconds * 10 + (c - '0');
    if (seconds > kLatestTime) {
      return {0, kYearRangeProblem};
    }
  }
  return {seconds, nullptr};
}

// The zone names FreeRADIUS lets pass: UTC, GMT and the local zone's own.
bool is_zone_read_as_local(std::string_view word) {
  ::tzset();
  const std::string zone = text::lower_ascii(word);
  return zone == "utc" || zone == "gmt" || zone == text::lower_ascii(::tzname[0]) ||
         zone == text::lower_ascii(::tzname[1]);
}

}  // namespace

RadiusDate parse_radius_date(std::string_view text) {
  const std::vector<std::string_view> words = text::words(text);
  if (words.size() == 1 && words[0].find_first_not_of("0123456789") == std::string_view::npos) {
    return epoch_seconds(words[0]);
  }
  if (words.size() < 3 || words.size() > 5) {
    return {0, kShape};
  }
  std::tm tm{};
  int month = month_named(words[0]);
  int day = number_of(words[1], 2);
  if (month == 0) {
    month = month_named(words[1]);
    day = number_of(words[0], 2);
  }
  const int year = number_of(words[2], 5);
  if (month == 0 || day < 0 || year < 0) {
    return {0, kShape};
  }
  if (year < kFirstYear || year > kLastYear) {
    return {0, kYearRangeProblem};
  }
  if (day < 1 || day > days_in_month(year, month)) {
    return {0, "no such day"};
  }
  std::size_t next = 3;
  if (next < words.size() && words[next].find(':') != std::string_view::npos) {
    if (!read_time_of_day(words[next], tm)) {
      return {0, "no such time of day"};
    }
    ++next;
  }
  if (next < words.size()) {
    if (!is_zone_read_as_local(words[next])) {
      return {0, "a time zone FreeRADIUS does not read; it takes the time as its local time"};
    }
    ++next;
  }
  if (next != words.size()) {
    return {0, kShape};
  }
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_isdst = -1;  // local time: whatever the rules say for that day
  const std::time_t seconds = std::mktime(&tm);
  if (seconds == static_cast<std::time_t>(-1)) {
    return {0, "no such time here"};
  }
  return {static_cast<std::int64_t>(seconds), nullptr};
}

}  // namespace adrvet_list::peers
