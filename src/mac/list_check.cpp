#include "mac/list_check.h"

#include "base/secret_bytes.h"
#include "base/wipe.h"
#include "mac/detail/list_text_check.h"

#include <algorithm>
#include <optional>
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

// Canonical text is searched where it stands, decoding only the entries the
// search visits. No answer when the text is in another layout.
std::optional<ResultCode> check_canonical(std::uint64_t size, const ListTextReader& read,
                                          const char* mac_text, std::size_t piece_bytes) {
  if (size % kCanonicalLineBytes != 0) {
    return std::nullopt;
  }
  const std::size_t piece =
      std::max(piece_bytes / kCanonicalLineBytes, std::size_t{1}) * kCanonicalLineBytes;
  switch (scan_range(read, 0, size, piece)) {
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
                           std::size_t piece_bytes) {
  if (const auto answered = check_canonical(size, read, mac_text, piece_bytes)) {
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
      mac_text);
}

}  // namespace orbitforge::mac
