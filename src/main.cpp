// ADRVET: is a MAC address on the protected list <dir>/engine.dat?
// Answers with the exit status; prints only when asked (argument 4 "D").
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "crypto/container.h"
#include "crypto/crypto.h"
#include "crypto/key_versions.h"
#include "mac/canonical_list.h"
#include "mac/mac_text.h"
#include "mac/macfunc.h"

namespace {

enum ResultCode : int {
  kListed = 1,
  kNotListed = 0,
  kFileNotFound = -1,
  kCannotLoad = -2,
  kWrongKey = -3,
  kBadDataFile = -4,
  kBadFileContents = -5,
  kBadEnteredFormat = -6,
  kBadEnteredDigits = -7,
  kBadArguments = -8,
};

constexpr std::size_t kMacTextSize = 64;
constexpr std::size_t kListDirSize = 512;
constexpr std::size_t kListPathSize = 1024;
constexpr char kListFileName[] = "/engine.dat";
static_assert(kListDirSize - 1 + sizeof kListFileName <= kListPathSize);

constexpr char kUsage[] =
    "Invalid arguments.\n\nCorrect usage is:\nADRVET S|U <MAC_list_path> aa:bb:cc:dd:ee::ff [D]\n";
constexpr char kFileNotFoundMessage[] = "File not found!!!\n";
constexpr char kCannotLoadMessage[] = "Unable to load input file!!!\n";
constexpr char kWrongKeyMessage[] = "Wrong key!!!\n";
constexpr char kBadDataFileMessage[] = "Incorrect data file!!!\n";
constexpr char kBadFileContentsMessage[] = "Incorrect file contents!!!\n";
constexpr char kBadEnteredFormatMessage[] = "Incorrect format of entered MAC address!!!\n";
constexpr char kBadEnteredDigitsMessage[] = "Error converting entered MAC address to number!!!\n";
constexpr char kListedMessage[] = "MAC address is in the list!\n";
constexpr char kNotListedMessage[] = "MAC address is not in the list!!!\n";

int finish(bool verbose, int code, const char* message) {
  if (verbose) {
    std::puts(message);
  }
  return code;
}

// Copies `text` into `storage` when it fits with its terminator.
template <std::size_t Size>
bool copy_argument(const char* text, char (&storage)[Size]) {
  storage[0] = '\0';
  if (text == nullptr) {
    return false;
  }
  const std::size_t length = std::strlen(text);
  if (length >= Size) {
    return false;
  }
  std::memcpy(storage, text, length + 1);
  return true;
}

// Opening for reading without blocking, so that a FIFO cannot hang the check.
bool can_open_for_reading(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return false;
  }
  ::close(fd);
  return true;
}

// The entered address, after the list has passed its own tests.
int decode_entered(const char* mac_text, bool verbose, std::uint64_t& value) {
  switch (orbitforge::mac::decode_entered(mac_text, value)) {
    case orbitforge::mac::EnteredStatus::bad_format:  // no digits at all included
      return finish(verbose, kBadEnteredFormat, kBadEnteredFormatMessage);
    case orbitforge::mac::EnteredStatus::bad_digit:
      return finish(verbose, kBadEnteredDigits, kBadEnteredDigitsMessage);
    case orbitforge::mac::EnteredStatus::ok:
      break;
  }
  return kListed;
}

int answer(bool listed, bool verbose) {
  return listed ? finish(verbose, kListed, kListedMessage)
                : finish(verbose, kNotListed, kNotListedMessage);
}

int opening_failed(int opened, bool verbose) {
  return finish(verbose, opened - 1, opened == -1 ? kCannotLoadMessage : kWrongKeyMessage);
}

// Any other layout: load the whole list, decode every entry, search the
// decoded list.
int check_decoded(const char* mac_text, const char* list_path, const orbitforge::util::Key& key,
                  bool verbose) {
  std::vector<unsigned char> image;
  std::size_t offset = 0;
  std::size_t size = 0;
  const int opened = orbitforge::util::opening_result(
      orbitforge::util::open_container_in_place(list_path, image, key, offset, size));
  if (opened < 0) {
    return opening_failed(opened, verbose);
  }
  std::vector<std::uint64_t> list;
  switch (orbitforge::mac::decode_list(image.data() + offset, size, list)) {
    case orbitforge::mac::ListStatus::bad_length:
      return finish(verbose, kBadDataFile, kBadDataFileMessage);
    case orbitforge::mac::ListStatus::bad_digit:
      return finish(verbose, kBadFileContents, kBadFileContentsMessage);
    case orbitforge::mac::ListStatus::ok:
      break;
  }
  image = {};  // the decoded list is all that is needed from here on
  std::uint64_t value = 0;
  const int entered = decode_entered(mac_text, verbose, value);
  if (entered != kListed) {
    return entered;
  }
  return answer(orbitforge::mac::search_address_in_list(value, std::move(list)), verbose);
}

// Lists in the layout adrvet-list writes are validated piece by piece and
// searched in the file itself, decrypting only the entries the search
// visits: little memory and one pass whatever the list's length. No answer
// when the list is in another layout.
std::optional<int> check_canonical(orbitforge::util::ContainerReader& reader, const char* mac_text,
                                   bool verbose) {
  constexpr std::size_t kLine = orbitforge::mac::kCanonicalLineBytes;
  constexpr std::size_t kChunk = kLine * 8 * 512;  // whole lines; small enough to stay in the L2 cache
  const std::uint64_t size = reader.payload_size();
  if (size % kLine != 0) {
    return std::nullopt;
  }
  std::vector<unsigned char> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(size, kChunk)));
  for (std::uint64_t offset = 0; offset < size; offset += chunk.size()) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, kChunk));
    if (!reader.read_payload(offset, chunk.data(), length)) {
      return finish(verbose, kCannotLoad, kCannotLoadMessage);
    }
    if (!orbitforge::mac::is_canonical_list(chunk.data(), length)) {
      return std::nullopt;
    }
  }
  std::uint64_t value = 0;
  const int entered = decode_entered(mac_text, verbose, value);
  if (entered != kListed) {
    return entered;
  }
  bool read_failed = false;
  const bool listed = orbitforge::mac::lower_bound_contains(
      static_cast<std::size_t>(size / kLine), value, [&](std::size_t k) -> std::uint64_t {
        unsigned char line[kLine];
        if (!reader.read_payload(std::uint64_t{k} * kLine, line, kLine)) {
          read_failed = true;
          return 0;
        }
        return orbitforge::mac::decode_canonical_line(line);
      });
  if (read_failed) {
    return finish(verbose, kCannotLoad, kCannotLoadMessage);
  }
  return answer(listed, verbose);
}

int check(const char* mac_text, const char* list_path, int version, bool verbose) {
  if (!can_open_for_reading(list_path)) {
    return finish(verbose, kFileNotFound, kFileNotFoundMessage);
  }
  const orbitforge::util::Key key = orbitforge::util::key_for_version(version);
  orbitforge::util::ContainerReader reader;
  const int opened = orbitforge::util::opening_result(reader.open(list_path, key));
  if (opened < 0) {
    return opening_failed(opened, verbose);
  }
  if (const auto answered = check_canonical(reader, mac_text, verbose)) {
    return *answered;
  }
  return check_decoded(mac_text, list_path, key, verbose);
}

}  // namespace

bool RetrieveVersion(const char* text, int& version) {
  version = 0;
  if (text == nullptr) {
    return false;
  }
  if (std::strcmp(text, "S") == 0 || std::strcmp(text, "s") == 0) {
    version = orbitforge::util::kKeyVersionS;
    return true;
  }
  if (std::strcmp(text, "U") == 0 || std::strcmp(text, "u") == 0) {
    version = orbitforge::util::kKeyVersionU;
    return true;
  }
  return false;
}

// Drops one trailing '/', since "/engine.dat" is appended.
bool RetrievePath(const char* text, char (&directory)[kListDirSize]) {
  if (!copy_argument(text, directory)) {
    return false;
  }
  const std::size_t length = std::strlen(directory);
  if (length > 0 && directory[length - 1] == '/') {
    directory[length - 1] = '\0';
  }
  return true;
}

bool RetrieveMACAddress(const char* text, char (&mac_text)[kMacTextSize]) {
  return copy_argument(text, mac_text);
}

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::puts(kUsage);
    return kBadArguments;
  }
  const bool verbose =
      argc > 4 && (std::strcmp(argv[4], "D") == 0 || std::strcmp(argv[4], "d") == 0);

  int version = 0;
  char list_dir[kListDirSize];
  char mac_text[kMacTextSize];
  if (!RetrieveVersion(argv[1], version) || !RetrievePath(argv[2], list_dir) ||
      !RetrieveMACAddress(argv[3], mac_text)) {
    return finish(verbose, kBadArguments, kUsage);
  }
  char list_path[kListPathSize];
  (void)std::snprintf(list_path, sizeof list_path, "%s%s", list_dir, kListFileName);

  try {
    return check(mac_text, list_path, version, verbose);
  } catch (const std::bad_alloc&) {
    return finish(verbose, kCannotLoad, kCannotLoadMessage);
  } catch (const std::length_error&) {
    return finish(verbose, kCannotLoad, kCannotLoadMessage);
  }
}
