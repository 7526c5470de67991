#include "list_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>

#include "cli.h"
#include "crypto/container.h"
#include "crypto/key_versions.h"
#include "mac/mac_text.h"

namespace adrvet_list {
namespace {

using orbitforge::util::ContainerStatus;

// Byte offset in the payload where entry `entry` (counted after dropping
// separators) starts, and its line number.
void locate_entry(const std::vector<unsigned char>& payload, std::size_t entry, std::size_t& offset,
                  std::size_t& line) {
  const std::size_t wanted = entry * orbitforge::mac::kDigitsPerAddress;
  std::size_t digits = 0;
  line = 1;
  for (offset = 0; offset < payload.size(); ++offset) {
    const unsigned char c = payload[offset];
    if (!orbitforge::mac::is_separator(c)) {
      if (digits == wanted) {
        return;
      }
      ++digits;
    } else if (c == '\n') {
      ++line;
    }
  }
}

void decode(LoadedList& list) {
  std::size_t bad_entry = 0;
  switch (orbitforge::mac::decode_list(list.payload, list.values, &bad_entry)) {
    case orbitforge::mac::ListStatus::ok:
      return;
    case orbitforge::mac::ListStatus::bad_length:
      list.adrvet_code = -4;
      list.problem =
          "the list text is not a whole number of 12-digit entries once separators "
          "are dropped";
      break;
    case orbitforge::mac::ListStatus::bad_digit: {
      std::size_t offset = 0;
      std::size_t line = 0;
      locate_entry(list.payload, bad_entry, offset, line);
      list.adrvet_code = -5;
      list.problem = "entry " + std::to_string(bad_entry + 1) + " (line " + std::to_string(line) +
                     ", byte " + std::to_string(offset) +
                     ") holds a character that is not a hex digit";
      break;
    }
  }
  list.values.clear();
}

}  // namespace

std::string list_file_path(const std::string& list) {
  struct stat status {};
  if (::stat(list.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    return list;
  }
  std::string dir = list;
  if (!dir.empty() && dir.back() == '/') {
    dir.pop_back();
  }
  return dir + "/engine.dat";
}

bool path_exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

LoadedList load_list(const std::string& path, const orbitforge::util::Key& key) {
  LoadedList list;
  const ContainerStatus status = orbitforge::util::open_container(path.c_str(), list.payload, key);
  if (status != ContainerStatus::ok) {
    // ADRVET answers -1 when it cannot open the file, -3 for the wrong key,
    // and -2 for every other failure to load it.
    list.adrvet_code = status == ContainerStatus::cannot_open ? -1
                       : status == ContainerStatus::wrong_key ? -3
                                                              : -2;
    list.problem = orbitforge::util::describe(status);
    if (status == ContainerStatus::cannot_open) {
      list.problem += std::string(": ") + std::strerror(errno);
    }
    return list;
  }
  decode(list);
  return list;
}

bool open_payload(const std::string& path, int key_version, std::vector<unsigned char>& payload) {
  const ContainerStatus status = orbitforge::util::open_container(
      path.c_str(), payload, orbitforge::util::key_for_version(key_version));
  if (status != ContainerStatus::ok) {
    error("%s: %s", path.c_str(), orbitforge::util::describe(status));
    return false;
  }
  return true;
}

void report_unusable(const std::string& path, const LoadedList& list) {
  error("%s: ADRVET would answer %d: %s", path.c_str(), list.adrvet_code, list.problem.c_str());
}

bool load_usable_list(const std::string& list_argument, int key_version, LoadedList& list) {
  const std::string path = list_file_path(list_argument);
  list = load_list(path, orbitforge::util::key_for_version(key_version));
  if (!list.usable()) {
    report_unusable(path, list);
    return false;
  }
  return true;
}

std::vector<unsigned char> canonical_payload(const std::vector<std::uint64_t>& values) {
  std::vector<unsigned char> payload(values.size() * orbitforge::mac::kFormattedSize);
  auto* at = reinterpret_cast<char*>(payload.data());
  for (const std::uint64_t value : values) {  // in place: the terminator becomes the line feed
    orbitforge::mac::format_address(value, ':', at);
    at[orbitforge::mac::kFormattedSize - 1] = '\n';
    at += orbitforge::mac::kFormattedSize;
  }
  return payload;
}

namespace {

constexpr std::size_t kBuckets = 256;
using Counts = std::array<std::size_t, kBuckets>;

std::size_t byte_of(std::uint64_t v, std::size_t b) { return (v >> (8 * b)) & 0xffU; }

// Least-significant-digit radix sort of a range small enough to stay in the
// cache, by bytes 0 .. top - 1; a byte in which all values agree is skipped.
void sort_low_bytes(std::uint64_t* data, std::size_t count, std::size_t top,
                    std::vector<std::uint64_t>& scratch) {
  if (count < 64) {
    std::sort(data, data + count);
    return;
  }
  std::array<Counts, 8> counts{};
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t b = 0; b < top; ++b) {
      ++counts[b][byte_of(data[i], b)];
    }
  }
  scratch.resize(std::max(scratch.size(), count));
  std::uint64_t* from = data;
  std::uint64_t* to = scratch.data();
  for (std::size_t b = 0; b < top; ++b) {
    Counts& next = counts[b];
    if (std::find(next.begin(), next.end(), count) != next.end()) {
      continue;
    }
    std::size_t at = 0;
    for (auto& c : next) {
      at += std::exchange(c, at);
    }
    for (std::size_t i = 0; i < count; ++i) {
      to[next[byte_of(from[i], b)]++] = from[i];
    }
    std::swap(from, to);
  }
  if (from != data) {
    std::copy(from, from + count, data);
  }
}

// Radix sort in two stages: the values are first distributed in place by
// the highest byte in which they differ (no second array of the whole
// size, whose fresh pages cost more than the sort), then each of the 256
// parts, by then a fraction of a megabyte for big lists, is sorted by the
// bytes below while it stays in the cache.
void radix_sort(std::vector<std::uint64_t>& values) {
  std::uint64_t differ = 0;
  for (const std::uint64_t v : values) {
    differ |= v ^ values.front();
  }
  if (differ == 0) {
    return;
  }
  const std::size_t top = static_cast<std::size_t>(std::bit_width(differ) - 1) / 8;
  Counts begin{};
  for (const std::uint64_t v : values) {
    ++begin[byte_of(v, top)];
  }
  std::size_t at = 0;
  for (auto& c : begin) {
    at += std::exchange(c, at);
  }
  Counts next = begin;
  for (std::size_t d = 0; d < kBuckets; ++d) {
    const std::size_t end = d + 1 < kBuckets ? begin[d + 1] : values.size();
    while (next[d] < end) {  // each swap puts one value where it belongs
      std::uint64_t v = values[next[d]];
      for (std::size_t home = byte_of(v, top); home != d; home = byte_of(v, top)) {
        std::swap(v, values[next[home]++]);
      }
      values[next[d]++] = v;
    }
  }
  std::vector<std::uint64_t> scratch;
  for (std::size_t d = 0; d < kBuckets; ++d) {
    const std::size_t end = d + 1 < kBuckets ? begin[d + 1] : values.size();
    sort_low_bytes(values.data() + begin[d], end - begin[d], top, scratch);
  }
}

}  // namespace

std::size_t sort_unique(std::vector<std::uint64_t>& values) {
  constexpr std::size_t kRadixFrom = 1U << 12U;  // below this, comparisons win
  if (values.size() < kRadixFrom) {
    std::sort(values.begin(), values.end());
  } else {
    radix_sort(values);
  }
  const std::size_t before = values.size();
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return before - values.size();
}

bool write_list(const std::string& path, const std::vector<std::uint64_t>& values,
                const orbitforge::util::Key& key) {
  const std::vector<unsigned char> payload = canonical_payload(values);
  errno = 0;
  if (!orbitforge::util::write_container(path.c_str(), payload.data(), payload.size(), key)) {
    error("%s: cannot write the list: %s", path.c_str(),
          errno != 0 ? std::strerror(errno) : "too large");
    return false;
  }
  return true;
}

std::string colon_text(std::uint64_t value) {
  char text[orbitforge::mac::kFormattedSize];
  orbitforge::mac::format_address(value, ':', text);
  return text;
}

}  // namespace adrvet_list
