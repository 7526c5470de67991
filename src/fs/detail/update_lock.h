// The lock that serialises the writers of one file. Internal: not part of
// the installed interface.
//
// The lock is flock(2) on ".<name>.lock" beside the file: the file itself
// is replaced by rename, so it cannot carry a lock. Writers never remove
// the lock file (removing it would let two writers lock two different
// files). It must be a regular file with one link, opened without
// following links; in a sticky directory it must also belong to the
// writer, root or the directory's owner, since anyone else could remove it
// there and so break the lock.
#pragma once

#include <sys/types.h>

#include <chrono>

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
};

// Takes the exclusive lock of `target`, waiting up to `options.wait`. The
// lock lasts as long as `lock` stays open.
FileResult lock_for_update(const WriteTarget& target, const LockOptions& options,
                           FileDescriptor& lock);

}  // namespace orbitforge::util::detail
