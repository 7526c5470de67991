// Where a write lands: a directory handle and a name in it that is not a
// symbolic link, found without letting other users redirect the write.
// Internal: not part of the installed interface.
//
// The path is walked one component at a time from "/" or the working
// directory, each directory opened without following links. A symbolic
// link anywhere on the way is followed only when it is owned by root or by
// the writer; any other user's link is refused. A directory owned by root
// or the writer is refused when it sits in a directory that another user
// can change, since that user could put one of root's other directories
// in its place. What the name holds at the end: a FIFO, device or socket
// reached through a link is refused, one named directly is written in
// place only when root or the writer owns it; a regular file owned by
// another user is refused where others can write the directory (it may
// have been planted there), and by a writer other than root always, since
// its rewrite would take the file from its owner.
#pragma once

#include <sys/stat.h>

#include <string>

#include "base/file_descriptor.h"
#include "fs/file_result.h"

namespace orbitforge::util::detail {

struct WriteTarget {
  FileDescriptor directory;  // opened with O_DIRECTORY; every access goes through *at()
  struct stat directory_status {};
  std::string name;  // the file's name in `directory`
  bool exists = false;
  bool through_link = false;  // reached by following at least one link
  struct stat status {};      // of the existing file
};

FileResult resolve_write_target(const char* path, WriteTarget& target);

// Whether the writer may replace or write the existing file `status` in
// the target's directory (the rules above); used again once the lock is held.
FileResult check_replaceable(const WriteTarget& target, const struct stat& status);

// Whether a user other than root and the writer can add, remove or rename
// entries in the directory `directory`.
bool others_may_change(const struct stat& directory);

// The hidden name ".<name><suffix>" of a file beside `name` (its lock, its
// temporaries), with `name` cut so that the result stays inside NAME_MAX.
std::string hidden_name_beside(const std::string& name, const char* suffix);

}  // namespace orbitforge::util::detail
