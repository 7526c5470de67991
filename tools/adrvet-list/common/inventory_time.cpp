#include "common/inventory_time.h"

#include <ctime>

#include "formats/calendar.h"

namespace adrvet_list {
namespace {

constexpr std::int64_t kDay = 86400;

// Leap years in [1, year).
constexpr std::int64_t leaps_before(std::int64_t year) {
  const std::int64_t y = year - 1;
  return y / 4 - y / 100 + y / 400;
}

constexpr std::int64_t days_before_year(std::int64_t year) {
  return 365 * (year - kFirstYear) + leaps_before(year) - leaps_before(kFirstYear);
}

// Reads exactly `width` decimal digits at `at`, advancing it.
bool read_number(std::string_view text, std::size_t& at, std::size_t width, int& value) {
  if (at + width > text.size()) {
    return false;
  }
  value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + (c - '0');
  }
  at += width;
  return true;
}

// `wanted`, or its lower-case form for the letters T and Z.
bool expect(std::string_view text, std::size_t& at, char wanted) {
  const bool letter = wanted >= 'A' && wanted <= 'Z';
  if (at < text.size() && (text[at] == wanted || (letter && text[at] == wanted - 'A' + 'a'))) {
    ++at;
    return true;
  }
  return false;
}

struct Fields {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 23;  // a date alone lasts to its end
  int minute = 59;
  int second = 59;
};

const char* read_fields(std::string_view text, Fields& f) {
  constexpr const char* kShape =
      "not a time: YYYY-MM-DD, YYYY-MM-DDTHH:MM:SSZ (UTC) or a duration such as 90m, 12h, 7d";
  std::size_t at = 0;
  if (text.find_first_not_of("0123456789") > 4) {
    return kYearRangeProblem;
  }
  if (!read_number(text, at, 4, f.year) || !expect(text, at, '-') ||
      !read_number(text, at, 2, f.month) || !expect(text, at, '-') ||
      !read_number(text, at, 2, f.day)) {
    return kShape;
  }
  if (at < text.size()) {
    if (!expect(text, at, 'T') || !read_number(text, at, 2, f.hour) || !expect(text, at, ':') ||
        !read_number(text, at, 2, f.minute)) {
      return kShape;
    }
    f.second = 0;
    if (at < text.size() && text[at] == ':' && !read_number(text, ++at, 2, f.second)) {
      return kShape;
    }
    if (!expect(text, at, 'Z')) {
      return at < text.size() ? "only UTC times are taken: end the time with Z" : kShape;
    }
    if (at != text.size()) {
      return kShape;
    }
  }
  if (f.year < kFirstYear || f.year > kLastYear) {
    return kYearRangeProblem;
  }
  if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > days_in_month(f.year, f.month)) {
    return "no such day";
  }
  if (f.hour > 23 || f.minute > 59 || f.second > 59) {
    return "no such time of day";
  }
  return nullptr;
}

std::int64_t seconds_of(const Fields& f) {
  std::int64_t days = days_before_year(f.year);
  for (int m = 1; m < f.month; ++m) {
    days += days_in_month(f.year, m);
  }
  days += f.day - 1;
  return days * kDay + f.hour * 3600 + f.minute * 60 + f.second;
}

std::int64_t unit_seconds(char unit) {
  switch (unit) {
    case 's':
      return 1;
    case 'm':
      return 60;
    case 'h':
      return 3600;
    case 'd':
      return kDay;
    case 'w':
      return 7 * kDay;
    default:
      return 0;
  }
}

ParsedTime parse_duration(std::string_view text, std::int64_t now) {
  const std::int64_t unit = unit_seconds(text.back());
  const std::string_view digits = text.substr(0, text.size() - 1);
  if (unit == 0 || digits.empty() || digits.find_first_not_of("0123456789") != digits.npos) {
    return {0, "not a duration: a number and s, m, h, d or w, such as 90m, 12h, 7d"};
  }
  const std::int64_t room = (kLatestTime - now) / unit;  // whole units up to the latest time
  std::int64_t count = 0;
  for (const char c : digits) {
    count = count * 10 + (c - '0');
    if (count > room) {
      return {0, "the duration reaches beyond the year 9999"};
    }
  }
  if (count == 0) {
    return {0, "a duration of zero has expired already"};
  }
  return {now + count * unit, nullptr};
}

}  // namespace

ParsedTime parse_iso_time(std::string_view text) {
  Fields fields;
  if (const char* problem = read_fields(text, fields)) {
    return {0, problem};
  }
  return {seconds_of(fields), nullptr};
}

ParsedTime parse_expiry(std::string_view text, std::int64_t now) {
  if (text.empty()) {
    return {0, "no time given"};
  }
  // Digits and then '-' start a date; digits and a unit are a duration.
  const std::size_t digits = text.find_first_not_of("0123456789");
  if (digits == 0 || digits == std::string_view::npos || text[digits] != '-') {
    return parse_duration(text, now);
  }
  ParsedTime parsed = parse_iso_time(text);
  if (parsed.problem == nullptr && parsed.seconds <= now) {
    parsed.problem = "that time has passed";
  }
  return parsed;
}

std::string iso_time(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  char text[32];
  if (::gmtime_r(&time, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
    return "?";
  }
  return text;
}

std::int64_t current_time() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace adrvet_list
