#include "mac/list_check.h"

#include "base/secret_bytes.h"
#include "base/wipe.h"
#include "mac/detail/list_text_check.h"

#include <sched.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "mac/canonical_list.h"
#include "mac/mac_text.h"
#include "mac/macfunc.h"

namespace orbitforge::mac {
namespace {

// The entered address is looked at only once the list has passed its tests.
std::optional<ResultCode> entered_failure(const char* mac_text, std::uint64_t& value) {
  return result_of_entering(decode_entered(mac_text, value));
}

ResultCode answer(bool listed) { return listed ? ResultCode::listed : ResultCode::not_listed; }

// From this size on a second thread pays for itself many times over (it
// costs some 0.1 ms to start; 4 MiB take about 1 ms to validate).
constexpr std::uint64_t kHalvesBytes = std::uint64_t{4} << 20U;

bool may_use_two_cores() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  return ::sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 1;
}

enum class Scan { canonical, other_layout, read_failed };

// Validates text [first, last) as canonical lines, a piece at a time.
Scan scan_range(const ListTextReader& read, std::uint64_t first, std::uint64_t last,
                std::size_t piece) {
  // Decrypted list text: wiped when the scan is done, whatever it found.
  util::SecretBytes buffer(static_cast<std::size_t>(std::min<std::uint64_t>(last - first, piece)));
  for (std::uint64_t offset = first; offset < last; offset += piece) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(last - offset, piece));
    if (!read(offset, buffer.data(), length)) {
      return Scan::read_failed;
    }
    if (!is_canonical_list(buffer.data(), length)) {
      return Scan::other_layout;
    }
  }
  return Scan::canonical;
}

// The two halves at once: half of a big list's check is the kernel copying
// the file into the read buffer, and each core copies its own half. Any
// failure to start or finish the second thread leaves the work to this one.
Scan scan_halves(const ListTextReader& read, std::uint64_t size, std::size_t piece) {
  const std::uint64_t middle = size / 2 / piece * piece;  // whole lines on both sides
  std::optional<Scan> second;
  std::thread helper;
  try {
    helper = std::thread([&] {
      try {
        second = scan_range(read, middle, size, piece);
      } catch (const std::exception&) {  // no memory for its buffer: done below
      }
    });
  } catch (const std::system_error&) {
    return scan_range(read, 0, size, piece);
  }
  Scan first = Scan::read_failed;
  try {
    first = scan_range(read, 0, middle, piece);
  } catch (...) {
    helper.join();
    throw;
  }
  helper.join();
  if (!second) {
    second = scan_range(read, middle, size, piece);
  }
  // As one pass would find: an unreadable list is unreadable whatever the
  // layout of what could be read.
  if (first == Scan::read_failed || *second == Scan::read_failed) {
    return Scan::read_failed;
  }
  return first == Scan::canonical && *second == Scan::canonical ? Scan::canonical
                                                                : Scan::other_layout;
}

// Canonical text is searched where it stands, decoding only the entries the
// search visits. No answer when the text is in another layout.
std::optional<ResultCode> check_canonical(std::uint64_t size, const ListTextReader& read,
                                          const char* mac_text, std::size_t piece_bytes,
                                          bool halves) {
  if (size % kCanonicalLineBytes != 0) {
    return std::nullopt;
  }
  const std::size_t piece =
      std::max(piece_bytes / kCanonicalLineBytes, std::size_t{1}) * kCanonicalLineBytes;
  switch (halves && size >= 2 * std::uint64_t{piece} ? scan_halves(read, size, piece)
                                                     : scan_range(read, 0, size, piece)) {
    case Scan::read_failed:
      return ResultCode::cannot_load;
    case Scan::other_layout:
      return std::nullopt;
    case Scan::canonical:
      break;
  }
  std::uint64_t value = 0;
  if (const auto failure = entered_failure(mac_text, value)) {
    return failure;
  }
  bool read_failed = false;
  const bool listed =
      lower_bound_contains(static_cast<std::size_t>(size / kCanonicalLineBytes), value,
                           [&](std::size_t k) -> std::uint64_t {
                             unsigned char line[kCanonicalLineBytes];
                             if (!read(std::uint64_t{k} * kCanonicalLineBytes, line, sizeof line)) {
                               read_failed = true;
                               return 0;
                             }
                             const std::uint64_t entry = decode_canonical_line(line);
                             util::wipe(line, sizeof line);
                             return entry;
                           });
  return read_failed ? ResultCode::cannot_load : answer(listed);
}

// Any other layout: every entry decoded, then the decoded list searched.
ResultCode check_decoded(std::uint64_t size, const ListTextReader& read, const char* mac_text) {
  std::vector<std::uint64_t> list;
  {
    util::SecretBytes text(static_cast<std::size_t>(size));
    if (!read(0, text.data(), text.size())) {
      return ResultCode::cannot_load;
    }
    if (const auto failure = result_of_decoding(decode_list(text.data(), text.size(), list))) {
      return *failure;
    }
  }  // the decoded list is all that is needed from here on
  std::uint64_t value = 0;
  if (const auto failure = entered_failure(mac_text, value)) {
    return *failure;
  }
  return answer(search_address_in_list(value, std::move(list)));
}

}  // namespace

ResultCode check_list_text(std::uint64_t size, const ListTextReader& read, const char* mac_text,
                           std::size_t piece_bytes, bool halves) {
  if (const auto answered = check_canonical(size, read, mac_text, piece_bytes, halves)) {
    return *answered;
  }
  return check_decoded(size, read, mac_text);
}

ResultCode check_list(util::ContainerReader& reader, const char* mac_text) {
  const std::uint64_t size = reader.payload_size();
  return check_list_text(
      size,
      [&reader](std::uint64_t offset, unsigned char* out, std::size_t length) {
        return reader.read_payload(offset, out, length);
      },
      mac_text, kCheckPieceBytes, size >= kHalvesBytes && may_use_two_cores());
}

}  // namespace orbitforge::mac
