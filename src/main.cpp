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

using orbitforge::mac::ResultCode;

constexpr std::size_t kMacTextSize = orbitforge::mac::kMaxEnteredChars + 1;
constexpr std::size_t kListDirSize = 512;
constexpr std::size_t kListPathSize = 1024;
static_assert(kListDirSize + sizeof orbitforge::mac::kListFileName <= kListPathSize);

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

int finish(bool verbose, ResultCode code, const char* message) {
  if (verbose) {
    std::puts(message);
  }
  return orbitforge::mac::code_value(code);
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

const char* message_for(ResultCode code) {
  switch (code) {
    case ResultCode::listed:
      return kListedMessage;
    case ResultCode::not_listed:
      return kNotListedMessage;
    case ResultCode::file_not_found:
      return kFileNotFoundMessage;
    case ResultCode::cannot_load:
      return kCannotLoadMessage;
    case ResultCode::wrong_key:
      return kWrongKeyMessage;
    case ResultCode::bad_data_file:
      return kBadDataFileMessage;
    case ResultCode::bad_file_contents:
      return kBadFileContentsMessage;
    case ResultCode::bad_entered_format:
      return kBadEnteredFormatMessage;
    case ResultCode::bad_entered_digits:
      return kBadEnteredDigitsMessage;
    case ResultCode::bad_arguments:
      break;
  }
  return kUsage;
}

int check(const char* mac_text, const char* list_path, int version, bool verbose) {
  // One opening serves as the existence test too: a list that cannot be
  // opened for reading is "not found".
  orbitforge::util::ContainerReader reader;
  const orbitforge::util::ContainerStatus status =
      reader.open(list_path, orbitforge::util::key_for_version(version));
  const ResultCode code = status == orbitforge::util::ContainerStatus::ok
                              ? orbitforge::mac::check_list(reader, mac_text)
                              : orbitforge::mac::result_of_opening(status);
  return finish(verbose, code, message_for(code));
}

}  // namespace

bool RetrieveVersion(const char* text, int& version) {
  version = 0;
  if (text == nullptr) {
    return false;
  }
  const auto parsed = orbitforge::util::parse_key_version(text);
  version = parsed.value_or(0);
  return parsed.has_value();
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
    return orbitforge::mac::code_value(ResultCode::bad_arguments);
  }
  const bool verbose =
      argc > 4 && (std::strcmp(argv[4], "D") == 0 || std::strcmp(argv[4], "d") == 0);

  int version = 0;
  char list_dir[kListDirSize];
  char mac_text[kMacTextSize];
  if (!RetrieveVersion(argv[1], version) || !RetrievePath(argv[2], list_dir) ||
      !RetrieveMACAddress(argv[3], mac_text)) {
    return finish(verbose, ResultCode::bad_arguments, kUsage);
  }
  char list_path[kListPathSize];
  (void)std::snprintf(list_path, sizeof list_path, "%s/%s", list_dir,
                      orbitforge::mac::kListFileName);

  try {
    return check(mac_text, list_path, version, verbose);
  } catch (const std::bad_alloc&) {
    return finish(verbose, ResultCode::cannot_load, kCannotLoadMessage);
  } catch (const std::length_error&) {
    return finish(verbose, ResultCode::cannot_load, kCannotLoadMessage);
  }
}
