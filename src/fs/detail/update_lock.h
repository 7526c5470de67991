// The lock that serialises the writers of one file. Internal: not part of
// the installed interface.
//
// The lock is flock(2) on ".<name>.lock" beside the file: the file itself
// is replaced by rename, so it cannot carry a lock. Writers never remove
// the lock file (removing it would let two writers lock two different
// files). It is opened for writing, and its mode gives read and write
// only to the classes that may write the list, so that whoever may only
// read the list cannot hold its lock; root gives it to the list's owner
// and group, and the lock's owner keeps its mode and group in step with
// the list's, before locking. It must be a regular file opened without
// following links; in a sticky directory it must also belong to the
// writer, root or the directory's owner, since anyone else could remove
// it there and so break the lock. A lock with another name (a hard link)
// is taken back: locked, then replaced by a fresh one.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

#include "base/file_descriptor.h"
#include "fs/detail/write_target.h"
#include "fs/file_result.h"

namespace orbitforge::util::detail {

struct LockOptions {
  std::chrono::milliseconds wait{10000};  // how long to wait for another writer
  // The list's mode and group, which the lock file gets when it is created
  // and follows whenever its owner locks it (-1: the default group).
  mode_t mode = 0600;
  gid_t group = static_cast<gid_t>(-1);
  uid_t owner = static_cast<uid_t>(-1);  // the list's owner, when it exists
  // Told once, after notice_after, that another writer holds the lock.
  std::function<void(const std::string& holders)> on_wait;
  std::chrono::milliseconds notice_after{1000};
};

// The lock's mode for a list of mode `list_mode`: read and write for its
// owner, and for the group and others only where they may write the list.
mode_t lock_mode_for(mode_t list_mode);

// Takes the exclusive lock of `target`, waiting up to `options.wait`. The
// lock lasts as long as `lock` stays open.
FileResult lock_for_update(const WriteTarget& target, const LockOptions& options,
                           FileDescriptor& lock);

}  // namespace orbitforge::util::detail
