// Who holds a flock(2) lock, as /proc/locks shows it: for the message of a
// writer that gave up waiting. Internal: not part of the installed interface.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace orbitforge::util::detail {

struct LockHolder {
  long pid = 0;             // 0: in a pid namespace this process cannot see
  uid_t uid = 0;            // effective
  std::string command;      // its name, as the kernel keeps it
  bool identified = false;  // uid and command could be read
};

// The processes holding a lock on the file `locked` (its device and inode).
std::vector<LockHolder> lock_holders(const struct stat& locked);

// "pid 1234 (flock, uid 65534)", or "a process in another pid namespace".
std::string describe(const LockHolder& holder);

}  // namespace orbitforge::util::detail
