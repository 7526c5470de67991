// Messages on standard error and the exit statuses every command shares.
#pragma once

#include <string>

namespace adrvet_list {

enum ExitStatus : int {
  kExitOk = 0,
  kExitData = 1,   // invalid input, unusable list, failed verification, lists differ
  kExitUsage = 2,  // the command line itself is wrong
};

// "adrvet-list: <message>" on standard error.
[[gnu::format(printf, 1, 2)]] void error(const char* format, ...);
// The last message error() gave, without its prefix: the reason a change
// failed, for the audit log.
const std::string& last_error();
// "adrvet-list: warning: <message>" on standard error.
[[gnu::format(printf, 1, 2)]] void warning(const char* format, ...);

// The letter of a key version (1 or 2) as the command line takes it: S, U.
const char* key_letter(int key_version);

}  // namespace adrvet_list
