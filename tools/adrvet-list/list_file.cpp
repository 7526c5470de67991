#include "list_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
  char line[orbitforge::mac::kFormattedSize];
  unsigned char* at = payload.data();
  for (const std::uint64_t value : values) {
    orbitforge::mac::format_address(value, ':', line);
    line[orbitforge::mac::kFormattedSize - 1] = '\n';
    std::memcpy(at, line, sizeof line);
    at += sizeof line;
  }
  return payload;
}

std::size_t sort_unique(std::vector<std::uint64_t>& values) {
  std::sort(values.begin(), values.end());
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
