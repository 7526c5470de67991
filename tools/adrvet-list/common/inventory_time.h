// Times of the inventory: expiries as administrators type them, and every
// time shown as ISO 8601 UTC. Seconds since the epoch throughout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/calendar.h"  // kLatestTime

namespace adrvet_list {

struct ParsedTime {
  std::int64_t seconds = 0;       // since the epoch
  const char* problem = nullptr;  // why the text is refused, or nullptr
};

// "2026-12-31T23:59:59Z", "2026-12-31" (the end of that day, UTC), or a
// duration from `now`: "90m", "12h", "7d" (also "30s", "2w"). A time that
// has passed, a zero duration and anything beyond kLatestTime are refused.
ParsedTime parse_expiry(std::string_view text, std::int64_t now);

// The same rules for a time read back from a file, where a past time is
// allowed (an entry that has expired since it was written).
ParsedTime parse_iso_time(std::string_view text);

// "2026-12-31T23:59:59Z".
std::string iso_time(std::int64_t seconds);

// The current time, in seconds since the epoch.
std::int64_t current_time();

}  // namespace adrvet_list
