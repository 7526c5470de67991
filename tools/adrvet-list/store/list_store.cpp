#include "store/list_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "base/wipe.h"
#include "common/messages.h"
#include "crypto/container.h"
#include "crypto/key_versions.h"
#include "mac/list_check.h"
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
  // The decoder fills a plain vector (in one allocation): it is copied into
  // wiped memory and wiped itself before it is given back.
  std::vector<std::uint64_t> decoded;
  const orbitforge::mac::ListStatus status =
      orbitforge::mac::decode_list(list.payload.data(), list.payload.size(), decoded, &bad_entry);
  list.values.assign(decoded.begin(), decoded.end());
  orbitforge::util::wipe(decoded.data(), decoded.capacity() * sizeof(std::uint64_t));
  list.failure = orbitforge::mac::result_of_decoding(status);
  switch (status) {
    case orbitforge::mac::ListStatus::ok:
      return;
    case orbitforge::mac::ListStatus::bad_length:
      list.problem =
          "the list text is not a whole number of 12-digit entries once separators "
          "are dropped";
      break;
    case orbitforge::mac::ListStatus::bad_digit: {
      std::size_t offset = 0;
      std::size_t line = 0;
      locate_entry(list.payload, bad_entry, offset, line);
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
  list.own_failure = error_number == EMFILE || error_number == ENFILE || error_number == ENOMEM;
  list.problem = orbitforge::util::describe(status);
  if (error_number != 0) {
    list.problem += std::string(": ") + std::strerror(error_number);
  }
}

}  // namespace

namespace {

// DIR/engine.dat as ADRVET composes it: one trailing '/' dropped.
std::string in_directory(std::string dir) {
  if (!dir.empty() && dir.back() == '/') {
    dir.pop_back();
  }
  return dir + "/" + orbitforge::mac::kListFileName;
}

}  // namespace

std::string list_file_path(const std::string& list) {
  struct stat status {};
  if (::stat(list.c_str(), &status) == 0) {
    return S_ISDIR(status.st_mode) ? in_directory(list) : list;
  }
  // A path that does not exist yet is a list directory, as ADRVET takes it,
  // unless it names a container file (NAME.dat, as engine.dat).
  const bool names_container = list.ends_with(kContainerSuffix);
  return errno == ENOENT && !names_container ? in_directory(list) : list;
}

bool names_list_directory(const std::string& list, const std::string& path) { return path != list; }

bool make_list_directory(const std::string& list, const std::string& path, bool quiet) {
  if (!names_list_directory(list, path)) {
    return true;
  }
  const std::string dir =
      path.substr(0, path.size() - std::strlen(orbitforge::mac::kListFileName) - 1);
  // Made as the list is written: no link or directory of another user's on
  // the way may move it elsewhere.
  bool created = false;
  const orbitforge::util::FileResult made =
      orbitforge::util::make_directory(dir.c_str(), kListDirectoryMode, created);
  if (!made.ok()) {
    // A refusal says why; a plain system failure (a missing parent) as mkdir would.
    const bool plain = made.status == orbitforge::util::FileStatus::cannot_open_directory ||
                       made.status == orbitforge::util::FileStatus::cannot_create;
    error("%s: cannot create the list directory: %s", dir.c_str(),
          plain && made.error != 0 ? std::strerror(made.error)
                                   : orbitforge::util::describe(made).c_str());
    return false;
  }
  if (created && !quiet) {
    error("created the list directory %s", dir.c_str());
  }
  return true;
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

bool begin_update(const std::string& path, const UpdateSettings& wanted,
                  orbitforge::util::FileUpdate& update) {
  orbitforge::util::UpdateOptions settings;
  if (wanted.wait) {
    settings.wait = *wanted.wait;
  }
  if (wanted.mode) {
    settings.write.new_file_mode = static_cast<mode_t>(*wanted.mode);
    settings.write.mode_for_existing = true;
  }
  if (!wanted.quiet) {
    // Once, though taking back a planted lock may wait twice.
    settings.on_wait = [&path, limit = settings.wait,
                        told = false](const std::string& holders) mutable {
      if (!told) {
        told = true;
        error("waiting for the lock of %s%s%s (for up to %.3g s)", path.c_str(),
              holders.empty() ? "" : ", ", holders.c_str(),
              static_cast<double>(limit.count()) / 1000.0);
      }
    };
  }
  const orbitforge::util::FileResult begun = update.begin(path.c_str(), settings);
  if (begun.ok()) {
    return true;
  }
  if (begun.status == orbitforge::util::FileStatus::lock_timeout) {
    // Who holds it, where the system tells: a reader with an old
    // descriptor of the lock is stopped by ending that process.
    const std::string holder = begun.detail.empty()
                                   ? std::string("another writer holds the list's lock")
                                   : "the list's lock is " + begun.detail;
    error("%s: %s; gave up after %.3g s (--wait sets the limit)", path.c_str(), holder.c_str(),
          static_cast<double>(settings.wait.count()) / 1000.0);
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

std::string other_key_hint(const std::string& path, int key_version) {
  const int other = key_version == 1 ? 2 : 1;
  orbitforge::util::ContainerReader reader;
  if (reader.open(path.c_str(), orbitforge::util::key_for_version(other)) != ContainerStatus::ok) {
    return {};
  }
  return std::string("; it opens with -k ") + key_letter(other);
}

void report_unusable(const std::string& path, const LoadedList& list, int key_version) {
  if (list.own_failure) {
    error("%s: %s (a limit of this run, not the list's fault)", path.c_str(), list.problem.c_str());
    return;
  }
  const std::string hint = *list.failure == orbitforge::mac::ResultCode::wrong_key
                               ? other_key_hint(path, key_version)
                               : std::string();
  error("%s: ADRVET would answer %d: %s%s", path.c_str(),
        orbitforge::mac::code_value(*list.failure), list.problem.c_str(), hint.c_str());
}

bool load_usable_list(const std::string& list_argument, int key_version, LoadedList& list) {
  const std::string path = list_file_path(list_argument);
  list = load_list(path, orbitforge::util::key_for_version(key_version));
  if (!list.usable()) {
    report_unusable(path, list, key_version);
    return false;
  }
  return true;
}

namespace {

// `count` addresses from `values` as canonical lines at `out`, in place:
// each terminator becomes the line feed.
void format_lines(const std::uint64_t* values, std::size_t count, unsigned char* out) {
  auto* at = reinterpret_cast<char*>(out);
  for (std::size_t i = 0; i < count; ++i) {
    orbitforge::mac::format_address(values[i], ':', at);
    at[orbitforge::mac::kFormattedSize - 1] = '\n';
    at += orbitforge::mac::kFormattedSize;
  }
}

}  // namespace

orbitforge::util::SecretBytes canonical_payload(const Addresses& values) {
  // Room to become the container in place when it is written.
  orbitforge::util::SecretBytes payload;
  payload.reserve(values.size() * orbitforge::mac::kFormattedSize +
                  orbitforge::util::kContainerOverheadBytes);
  payload.resize(values.size() * orbitforge::mac::kFormattedSize);
  format_lines(values.data(), values.size(), payload.data());
  return payload;
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
                const Addresses& values, const orbitforge::util::Key& key) {
  // Formatted, encrypted and written a piece at a time, each piece still in
  // the cache when it is encrypted: neither the text nor the container is
  // ever whole in memory, so no fresh pages are cleared for them and none
  // wiped.
  constexpr std::size_t kPieceLines = std::size_t{1} << 14U;  // 288 KiB
  bool produced = false;
  bool too_large = false;
  const orbitforge::util::FileResult written =
      update.commit_stream([&](orbitforge::util::ContentSink& sink) {
        produced = true;
        orbitforge::util::ContainerWriter writer(sink, key);
        orbitforge::util::SecretBytes piece(std::min(values.size(), kPieceLines) *
                                            orbitforge::mac::kFormattedSize);
        for (std::size_t first = 0; first < values.size(); first += kPieceLines) {
          const std::size_t lines = std::min(values.size() - first, kPieceLines);
          format_lines(values.data() + first, lines, piece.data());
          if (!writer.append(piece.data(), lines * orbitforge::mac::kFormattedSize)) {
            too_large = writer.too_large();
            return !too_large;  // a failure of the sink is the commit's to report
          }
        }
        (void)writer.finish();
        return true;
      });
  if (!produced) {  // a FIFO or device named as the list: written whole, as before
    return write_payload(update, path, canonical_payload(values), key);
  }
  if (too_large || !written.ok()) {
    report_write_failure(path, too_large ? orbitforge::util::FileResult::failure(
                                               orbitforge::util::FileStatus::too_large)
                                         : written);
    return false;
  }
  return true;
}

}  // namespace adrvet_list
