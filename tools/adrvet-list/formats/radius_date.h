// FreeRADIUS's `Expiration` check item: the dates its users files hold, as
// rlm_expiration takes them ("Dec 31 2026 23:59:59", "23 Sep 2004",
// seconds since the epoch).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace adrvet_list::peers {

struct RadiusDate {
  std::int64_t seconds = 0;       // since the epoch
  const char* problem = nullptr;  // why the text is refused, or nullptr
};

// "MON D YYYY" or "D MON YYYY" (the month's name in English, three letters
// or whole, any case), then optionally "HH:MM" or "HH:MM:SS" and a zone
// (UTC, GMT or this machine's own); or seconds since the epoch. FreeRADIUS
// reads a date in its own local time whatever zone the text names (a
// server at UTC+9 takes "... 12:00 UTC" as noon there), and so does the
// import: this machine's local time, as on the server itself. A date
// alone is its midnight, when FreeRADIUS stops admitting the device.
RadiusDate parse_radius_date(std::string_view text);

}  // namespace adrvet_list::peers
