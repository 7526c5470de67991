// ADRVET: is a MAC address on the protected list <dir>/engine.dat?
// Answers with the exit status; prints only when asked (argument 4 "D").
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "crypto/container.h"
#include "crypto/crypto.h"
#include "crypto/key_versions.h"
#include "mac/list_check.h"

namespace {

// The codes after the list has been opened come from the shared list check.
enum ResultCode : int {
  kListed = orbitforge::mac::kCheckListed,
  kNotListed = orbitforge::mac::kCheckNotListed,
  kFileNotFound = -1,
  kCannotLoad = orbitforge::mac::kCheckCannotLoad,
  kWrongKey = -3,
  kBadDataFile = orbitforge::mac::kCheckBadLength,
  kBadFileContents = orbitforge::mac::kCheckBadContents,
  kBadEnteredFormat = orbitforge::mac::kCheckBadFormat,
  kBadEnteredDigits = orbitforge::mac::kCheckBadEntered,
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

const char* message_for(int code) {
  switch (code) {
    case kListed:
      return kListedMessage;
    case kNotListed:
      return kNotListedMessage;
    case kFileNotFound:
      return kFileNotFoundMessage;
    case kCannotLoad:
      return kCannotLoadMessage;
    case kWrongKey:
      return kWrongKeyMessage;
    case kBadDataFile:
      return kBadDataFileMessage;
    case kBadFileContents:
      return kBadFileContentsMessage;
    case kBadEnteredFormat:
      return kBadEnteredFormatMessage;
    case kBadEnteredDigits:
      return kBadEnteredDigitsMessage;
    default:
      return kUsage;
  }
}

int check(const char* mac_text, const char* list_path, int version, bool verbose) {
  // One opening serves as the existence test too: a list that cannot be
  // opened for reading is "not found".
  orbitforge::util::ContainerReader reader;
  const orbitforge::util::ContainerStatus status =
      reader.open(list_path, orbitforge::util::key_for_version(version));
  if (status == orbitforge::util::ContainerStatus::cannot_open) {
    return finish(verbose, kFileNotFound, kFileNotFoundMessage);
  }
  const int opened = orbitforge::util::opening_result(status);
  if (opened < 0) {
    return finish(verbose, opened - 1, message_for(opened - 1));
  }
  const int code = orbitforge::mac::check_list(
      reader.payload_size(),
      [&reader](std::uint64_t offset, unsigned char* out, std::size_t size) {
        return reader.read_payload(offset, out, size);
      },
      mac_text);
  return finish(verbose, code, message_for(code));
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
