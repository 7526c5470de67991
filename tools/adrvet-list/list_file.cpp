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
void locate_entry(const orbitforge::util::SecretBytes& payload, std::size_t entry,
                  std::size_t& offset, std::size_t& line) {
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
  switch (orbitforge::mac::decode_list(list.payload.data(), list.payload.size(), list.values,
                                       &bad_entry)) {
    case orbitforge::mac::ListStatus::ok:
      return;
    case orbitforge::mac::ListStatus::bad_length:
      list.failure = orbitforge::mac::ResultCode::bad_data_file;
      list.problem =
          "the list text is not a whole number of 12-digit entries once separators "
          "are dropped";
      break;
    case orbitforge::mac::ListStatus::bad_digit: {
      std::size_t offset = 0;
      std::size_t line = 0;
      locate_entry(list.payload, bad_entry, offset, line);
      list.failure = orbitforge::mac::ResultCode::bad_file_contents;
      list.problem = "entry " + std::to_string(bad_entry + 1) + " (line " + std::to_string(line) +
                     ", byte " + std::to_string(offset) +
                     ") holds a character that is not a hex digit";
      break;
    }
  }
  list.values.clear();
}

void note_failure(LoadedList& list, ContainerStatus status, int error_number) {
  list.failure = orbitforge::mac::result_of_opening(status);
  list.problem = orbitforge::util::describe(status);
  if (error_number != 0) {
    list.problem += std::string(": ") + std::strerror(error_number);
  }
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

// Decodes the payload of an opened container, or notes why it did not open.
LoadedList finish_loading(LoadedList list, ContainerStatus status,
                          const orbitforge::util::OpenDetails& details) {
  if (status != ContainerStatus::ok) {
    note_failure(list, status, details.error);
    return list;
  }
  list.intact = details.intact;
  decode(list);
  return list;
}

LoadedList load_list(const std::string& path, const orbitforge::util::Key& key) {
  LoadedList list;
  orbitforge::util::OpenDetails details;
  const ContainerStatus status =
      orbitforge::util::open_container(path.c_str(), list.payload, key, details);
  return finish_loading(std::move(list), status, details);
}

LoadedList load_list(const orbitforge::util::FileUpdate& update, const orbitforge::util::Key& key) {
  LoadedList list;
  orbitforge::util::OpenDetails details;
  const ContainerStatus status =
      orbitforge::util::open_container(update, list.payload, key, details);
  return finish_loading(std::move(list), status, details);
}

bool begin_update(const std::string& path, const Options& options,
                  orbitforge::util::FileUpdate& update) {
  orbitforge::util::UpdateOptions settings;
  if (options.wait) {
    settings.wait = *options.wait;
  }
  if (options.mode) {
    settings.write.new_file_mode = static_cast<mode_t>(*options.mode);
  }
  const orbitforge::util::FileResult begun = update.begin(path.c_str(), settings);
  if (begun.ok()) {
    return true;
  }
  if (begun.status == orbitforge::util::FileStatus::lock_timeout) {
    error("%s: another writer holds the list's lock; gave up after %.3g s (--wait sets the limit)",
          path.c_str(), static_cast<double>(settings.wait.count()) / 1000.0);
  } else {
    error("%s: cannot update: %s", path.c_str(), orbitforge::util::describe(begun).c_str());
  }
  return false;
}

const char* damage_description() {
  return "looks truncated or damaged: its length or its padding is not what adrvet-list writes";
}

bool may_rewrite(const std::string& path, const LoadedList& list, bool force) {
  if (list.intact || force) {
    return true;
  }
  error("%s: %s; nothing changed (--force rewrites it as it reads now)", path.c_str(),
        damage_description());
  return false;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool open_payload(const std::string& path, int key_version,
                  orbitforge::util::SecretBytes& payload) {
  orbitforge::util::OpenDetails details;
  const ContainerStatus status = orbitforge::util::open_container(
      path.c_str(), payload, orbitforge::util::key_for_version(key_version), details);
  if (status != ContainerStatus::ok) {
    error("%s: %s%s%s", path.c_str(), orbitforge::util::describe(status),
          details.error != 0 ? ": " : "", details.error != 0 ? std::strerror(details.error) : "");
    return false;
  }
  return true;
}

void report_unusable(const std::string& path, const LoadedList& list) {
  error("%s: ADRVET would answer %d: %s", path.c_str(), orbitforge::mac::code_value(*list.failure),
        list.problem.c_str());
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

orbitforge::util::SecretBytes canonical_payload(const std::vector<std::uint64_t>& values) {
  // Room to become the container in place when it is written.
  orbitforge::util::SecretBytes payload;
  payload.reserve(values.size() * orbitforge::mac::kFormattedSize +
                  orbitforge::util::kContainerOverheadBytes);
  payload.resize(values.size() * orbitforge::mac::kFormattedSize);
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

void report_write_failure(const std::string& path, const orbitforge::util::FileResult& result) {
  error("%s: cannot write: %s", path.c_str(), orbitforge::util::describe(result).c_str());
}

bool write_payload(orbitforge::util::FileUpdate& update, const std::string& path,
                   orbitforge::util::SecretBytes payload, const orbitforge::util::Key& key) {
  const orbitforge::util::FileResult written =
      orbitforge::util::write_container(update, std::move(payload), key);
  if (!written.ok()) {
    report_write_failure(path, written);
    return false;
  }
  return true;
}

bool write_list(orbitforge::util::FileUpdate& update, const std::string& path,
                const std::vector<std::uint64_t>& values, const orbitforge::util::Key& key) {
  return write_payload(update, path, canonical_payload(values), key);
}

std::string colon_text(std::uint64_t value) {
  char text[orbitforge::mac::kFormattedSize];
  orbitforge::mac::format_address(value, ':', text);
  return text;
}

}  // namespace adrvet_list
