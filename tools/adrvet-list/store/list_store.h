// Protected lists as adrvet-list sees them: where the file is, what ADRVET
// would make of it, a locked update, and writing a list in canonical form.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/secret_bytes.h"
#include "common/addresses.h"
#include "crypto/crypto.h"
#include "fs/file_update.h"
#include "mac/result_code.h"

namespace adrvet_list {

// A directory names <dir>/engine.dat, composed as ADRVET composes it (one
// trailing '/' dropped), and so does a path that does not exist yet, unless
// it ends in ".dat": that, and any other existing file, names the container
// file itself.
std::string list_file_path(const std::string& list);

// What names a container file rather than a list directory when it does
// not exist yet.
inline constexpr char kContainerSuffix[] = ".dat";

// A new list directory: readable by all, as /etc is, since the list file in
// it keeps its own mode (600 by default).
inline constexpr unsigned kListDirectoryMode = 0755;

// True when list_file_path(list) gave `path` inside the list directory.
bool names_list_directory(const std::string& list, const std::string& path);

// Creates the list directory of `path` (list_file_path(list)) when it does
// not exist, saying so unless quiet; says why and gives false when it cannot.
bool make_list_directory(const std::string& list, const std::string& path, bool quiet);

struct LoadedList {
  // Empty when usable; otherwise ADRVET's answer, -1 to -5.
  std::optional<orbitforge::mac::ResultCode> failure;
  std::string problem;                    // why it is unusable, for messages
  orbitforge::util::SecretBytes payload;  // the stored payload, when the container opened
  Addresses values;                       // the addresses in file order, when usable
  bool intact = true;                     // framed as only the writer frames it: not cut short
  // The opening failed for a reason of this process's own (no descriptor
  // or memory left): ADRVET's answer for the file is not known.
  bool own_failure = false;
  [[nodiscard]] bool usable() const { return !failure; }
};

// Opens and decodes a list exactly as ADRVET does.
LoadedList load_list(const std::string& path, const orbitforge::util::Key& key);
// The same for the list of a locked update, as it is under the lock.
LoadedList load_list(const orbitforge::util::FileUpdate& update, const orbitforge::util::Key& key);

// How an update waits for the list's lock and the mode of a new list; the
// library's defaults where absent.
struct UpdateSettings {
  std::optional<std::chrono::milliseconds> wait;
  std::optional<unsigned> mode;
  bool quiet = false;  // no word when the lock is slow to come
};

// Starts a locked update of the file at `path`; says why and gives false
// when it cannot. A wait for another writer of more than a second is said
// once ("waiting for the lock of PATH, held by pid N ..."), unless quiet.
bool begin_update(const std::string& path, const UpdateSettings& wanted,
                  orbitforge::util::FileUpdate& update);

// A list that looks cut short is rewritten only with --force, since its
// rewrite would make the loss permanent; says so and gives false.
bool may_rewrite(const std::string& path, const LoadedList& list, bool force);

// "looks truncated or damaged: ..." for verify and may_rewrite.
const char* damage_description();

// True when both paths name one existing file (links followed).
bool same_file(const std::string& a, const std::string& b);

// Opens the container at `path` into `payload`; on failure says why and
// gives false.
bool open_payload(const std::string& path, int key_version, orbitforge::util::SecretBytes& payload);

// "adrvet-list: PATH: ADRVET would answer N: problem" on standard error;
// for the wrong key, which key version opens the list, if one does.
void report_unusable(const std::string& path, const LoadedList& list, int key_version);

// "; it opens with -k U" when the other key version opens the container at
// `path`, else nothing: the magic decides, so the test is cheap.
std::string other_key_hint(const std::string& path, int key_version);

// load_list for a LIST argument and a key version; reports an unusable list
// and then gives false.
bool load_usable_list(const std::string& list_argument, int key_version, LoadedList& list);

// One address per line in lower-case colon notation.
orbitforge::util::SecretBytes canonical_payload(const Addresses& values);

// Writes the values (already sorted and unique) as the new content of a
// locked update, with a message on failure.
bool write_list(orbitforge::util::FileUpdate& update, const std::string& path,
                const Addresses& values, const orbitforge::util::Key& key);
// The same for a payload kept byte for byte.
bool write_payload(orbitforge::util::FileUpdate& update, const std::string& path,
                   orbitforge::util::SecretBytes payload, const orbitforge::util::Key& key);

// "adrvet-list: PATH: cannot write: reason".
void report_write_failure(const std::string& path, const orbitforge::util::FileResult& result);

}  // namespace adrvet_list
