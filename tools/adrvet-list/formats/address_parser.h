// The lines of a plain list, as administrators write them.
#pragma once

#include <cstdint>
#include <string_view>

namespace adrvet_list {

// What a line of a list or of a peer's file means. The peers' own
// statements that take addresses out again (nft delete element and flush
// set, ipset del and flush, hostapd's -MAC) are kinds of their own, so that
// an import applies them in order, as the peer does.
struct ParsedLine {
  enum class Kind {
    blank,
    address,
    invalid,
    removal,  // `value` leaves the set read so far
    flush,    // the set read so far is emptied
    skipped,  // a line of the peer's file that holds no entry (counted, not an error)
  } kind = Kind::blank;
  std::uint64_t value = 0;
  const char* reason = "";   // for invalid lines
  std::string_view content;  // the line without comment and surrounding white space
  // Which of the file's sets the line is about (nft, ipset: a file may hold
  // several); kAllSets for a flush of everything.
  std::uint32_t set = 0;
  static constexpr std::uint32_t kAllSets = 0xFFFFFFFFU;
  // What the peer's file says of an address besides it: its label (an
  // element's comment, a host name, the comment line above it; empty for
  // none) and how many seconds the peer keeps it (kForever: no timeout).
  // Unchecked: the importer checks them as --label and --expires are.
  // An expiry the file gives as a time, not as seconds left (FreeRADIUS's
  // Expiration), in seconds since the epoch; kForever for none.
  std::string_view label;
  std::int64_t seconds_left = kForever;
  std::int64_t expires_at = kForever;
  static constexpr std::int64_t kForever = -1;
  [[nodiscard]] bool has_notes() const {
    return !label.empty() || seconds_left != kForever || expires_at != kForever;
  }
};

// One line: an address in any notation ADRVET accepts for an entered address
// (hex pairs with ':' or '-' or none, either case; exactly 12 digits), or
// the dotted form aabb.ccdd.eeff. '#' starts a comment; blank lines and
// surrounding white space are ignored.
ParsedLine parse_list_line(std::string_view line);

// Why an address deserves a second look, or nullptr: all-zero, broadcast,
// multicast, locally administered.
const char* unusual_address_kind(std::uint64_t value);

}  // namespace adrvet_list
