#include "fs/detail/lock_holder.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "base/file_descriptor.h"

namespace orbitforge::util::detail {
namespace {

// A small file of /proc, read to its end (its stated size is 0).
std::string read_proc_file(const std::string& path) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  std::string text;
  if (!fd.valid()) {
    return text;
  }
  char chunk[4096];
  for (;;) {
    const ssize_t got = retry_on_interrupt([&] { return ::read(fd.get(), chunk, sizeof chunk); });
    if (got <= 0) {
      return text;
    }
    text.append(chunk, static_cast<std::size_t>(got));
  }
}

// "08:01:1234" names the file `locked`.
bool names_file(const std::string& field, const struct stat& locked) {
  unsigned major_number = 0;
  unsigned minor_number = 0;
  unsigned long long inode = 0;
  return std::sscanf(field.c_str(), "%x:%x:%llu", &major_number, &minor_number, &inode) == 3 &&
         major_number == major(locked.st_dev) && minor_number == minor(locked.st_dev) &&
         inode == static_cast<unsigned long long>(locked.st_ino);
}

void identify(LockHolder& holder) {
  const std::string base = "/proc/" + std::to_string(holder.pid) + "/";
  std::istringstream status(read_proc_file(base + "status"));
  for (std::string line; std::getline(status, line);) {
    unsigned real = 0;
    unsigned effective = 0;
    if (std::sscanf(line.c_str(), "Uid: %u %u", &real, &effective) == 2) {
      holder.uid = effective;
      holder.identified = true;
    }
  }
  holder.command = read_proc_file(base + "comm");
  if (!holder.command.empty() && holder.command.back() == '\n') {
    holder.command.pop_back();
  }
}

}  // namespace

std::vector<LockHolder> lock_holders(const struct stat& locked) {
  std::vector<LockHolder> holders;
  std::istringstream locks(read_proc_file("/proc/locks"));
  for (std::string line; std::getline(locks, line);) {
    std::istringstream words(line);
    std::string id;
    std::string kind;
    std::string advisory;
    std::string access;
    std::string pid;
    std::string file;
    // "1: FLOCK ADVISORY WRITE 1234 08:01:5678 0 EOF"; waiters show "->".
    if (!(words >> id >> kind >> advisory >> access >> pid >> file) || kind == "->" ||
        !names_file(file, locked)) {
      continue;
    }
    LockHolder holder;
    holder.pid = std::strtol(pid.c_str(), nullptr, 10);
    if (holder.pid > 0) {
      identify(holder);
    }
    holders.push_back(holder);
  }
  return holders;
}

std::string describe(const LockHolder& holder) {
  if (holder.pid <= 0) {
    return "a process in another pid namespace";
  }
  std::string text = "pid " + std::to_string(holder.pid);
  if (holder.identified) {
    text += " (" + holder.command + ", uid " + std::to_string(holder.uid) + ")";
  }
  return text;
}

}  // namespace orbitforge::util::detail
