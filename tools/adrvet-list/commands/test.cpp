// test: ADRVET's answer for one address, with the exit statuses scripts
// expect of a test (as grep -q and ipset test): 0 listed, 1 not listed, 2
// anything that cannot be decided. ADRVET itself answers 1 for listed, so
// "if ADRVET ...; then" admits every device that is not on the list.
#include <sys/stat.h>

#include <new>
#include <stdexcept>
#include <string>

#include "cli/options.h"
#include "commands/commands.h"
#include "common/json.h"
#include "common/messages.h"
#include "crypto/container.h"
#include "crypto/key_versions.h"
#include "mac/list_check.h"
#include "mac/result_code.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

using orbitforge::mac::ResultCode;

constexpr char kUsage[] =
    "Usage: adrvet-list test -k S|U [--json] LIST MAC\n"
    "\n"
    "Asks what ADRVET would answer for MAC with the list directory LIST (it reads\n"
    "LIST/engine.dat, as ADRVET does) and exits 0 when MAC is listed, 1 when it is\n"
    "not, and 2 when that cannot be decided: any answer of ADRVET other than 1 or 0\n"
    "(list missing, unreadable or damaged, wrong key version, malformed address)\n"
    "and any usage error. Prints nothing, except the reason for exit status 2 on\n"
    "standard error. Use it in 'if': ADRVET's own status is 1 for a listed address.\n"
    "--json prints ADRVET's answer as one JSON document, with the same status.\n";

constexpr int kListed = 0;
constexpr int kNotListed = 1;
constexpr int kUndecided = 2;

// ADRVET's argument storage: longer arguments are its usage error (-8).
constexpr std::size_t kMaxListDirectory = 511;

// Composes LIST/engine.dat as ADRVET does: one trailing '/' dropped.
std::string adrvet_list_path(std::string directory) {
  if (!directory.empty() && directory.back() == '/') {
    directory.pop_back();
  }
  return directory + "/" + orbitforge::mac::kListFileName;
}

ResultCode adrvet_answer(const std::string& path, const std::string& mac, int key_version) {
  orbitforge::util::ContainerReader reader;
  const orbitforge::util::ContainerStatus status =
      reader.open(path.c_str(), orbitforge::util::key_for_version(key_version));
  return status == orbitforge::util::ContainerStatus::ok
             ? orbitforge::mac::check_list(reader, mac.c_str())
             : orbitforge::mac::result_of_opening(status);
}

const char* reason(ResultCode code) {
  switch (code) {
    case ResultCode::file_not_found:
      return "the list cannot be opened for reading (missing, or no permission)";
    case ResultCode::cannot_load:
      return "the list cannot be loaded (not a regular file, damaged or too large)";
    case ResultCode::wrong_key:
      return "wrong key version, or not a protected list";
    case ResultCode::bad_data_file:
      return "the list text is not a whole number of 12-digit entries";
    case ResultCode::bad_file_contents:
      return "an entry of the list holds a character that is not a hex digit";
    case ResultCode::bad_entered_format:
      return "the address has the wrong number of hex digits";
    case ResultCode::bad_entered_digits:
      return "the address holds a character that is not a hex digit";
    default:
      return "invalid arguments";
  }
}

void explain(const std::string& list, const std::string& path, int key_version, ResultCode code) {
  std::string hint;
  struct stat status {};
  if (code == ResultCode::file_not_found && ::stat(list.c_str(), &status) == 0 &&
      !S_ISDIR(status.st_mode)) {
    hint = "; ADRVET takes the directory that holds " +
           std::string(orbitforge::mac::kListFileName) + ", not a file";
  }
  if (code == ResultCode::wrong_key) {
    hint = other_key_hint(path, key_version);
  }
  error("test: %s: ADRVET answers %d: %s%s", path.c_str(), orbitforge::mac::code_value(code),
        reason(code), hint.c_str());
}

// The exit status for ADRVET's answer.
int status_of(ResultCode code) {
  switch (code) {
    case ResultCode::listed:
      return kListed;
    case ResultCode::not_listed:
      return kNotListed;
    default:
      return kUndecided;
  }
}

// {"listed":BOOL|null,"answer":INT}: null when ADRVET's answer decides nothing.
Json answer_json(const Options& options, ResultCode code) {
  Json document = json_document("test");
  document["list"] = options.positional[0];
  document["address"] = options.positional[1];
  const int status = status_of(code);
  document["listed"] = status == kUndecided ? Json(nullptr) : Json(status == kListed);
  document["answer"] = orbitforge::mac::code_value(code);
  return document;
}

ResultCode answer(const Options& options) {
  const std::string& list = options.positional[0];
  const std::string& mac = options.positional[1];
  if (list.size() > kMaxListDirectory || mac.size() > orbitforge::mac::kMaxEnteredChars) {
    error("test: ADRVET answers %d: %s longer than it accepts (%zu characters)",
          orbitforge::mac::code_value(ResultCode::bad_arguments),
          list.size() > kMaxListDirectory ? "the list directory is" : "the address is",
          list.size() > kMaxListDirectory ? kMaxListDirectory : orbitforge::mac::kMaxEnteredChars);
    return ResultCode::bad_arguments;
  }
  const std::string path = adrvet_list_path(list);
  const ResultCode code = adrvet_answer(path, mac, *options.key);
  if (status_of(code) == kUndecided) {
    explain(list, path, *options.key, code);
  }
  return code;
}

int run(const Options& options) {
  const ResultCode code = answer(options);
  // Standard output that cannot be written leaves the question undecided:
  // print_json's 1 would read as "not listed".
  if (options.json && print_json(answer_json(options, code), kExitOk) != kExitOk) {
    return kUndecided;
  }
  return status_of(code);
}

}  // namespace

const char* test_usage() { return kUsage; }

int run_test(const Options& options) {
  // Out of memory is undecided too: 1 would read as "not listed".
  try {
    return run(options);
  } catch (const std::bad_alloc&) {
    error("test: out of memory");
  } catch (const std::length_error&) {
    error("test: out of memory");
  }
  return kUndecided;
}

}  // namespace adrvet_list
