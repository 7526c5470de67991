// Where a write lands: a directory handle and a name in it that is not a
// symbolic link, found without trusting links that other users planted.
// Internal: not part of the installed interface.
//
// The rule: a symbolic link at the file, or at the directory that holds it,
// is followed only when it is owned by root or by the writer; any other
// user's link is refused. A FIFO, device or socket reached through a link
// is refused; one named directly is written in place, never waited on.
#pragma once

#include <sys/stat.h>

#include <string>

#include "base/file_descriptor.h"
#include "fs/file_result.h"

namespace orbitforge::util::detail {

struct WriteTarget {
  FileDescriptor directory;  // opened with O_DIRECTORY; every access goes through *at()
  std::string name;          // the file's name in `directory`
  bool exists = false;
  bool through_link = false;  // reached by following at least one link
  struct stat status {};      // of the existing file
};

FileResult resolve_write_target(const char* path, WriteTarget& target);

// The hidden name ".<name><suffix>" of a file beside `name` (its lock, its
// temporaries), with `name` cut so that the result stays inside NAME_MAX.
std::string hidden_name_beside(const std::string& name, const char* suffix);

}  // namespace orbitforge::util::detail
