#include "store/list_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/messages.h"
#include "store/list_stream.h"

namespace adrvet_list {
namespace {

// The directory part of `path`: "." for a bare name.
std::string parent_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ListSource::exists() const {
  if (update_ != nullptr) {
    return update_->exists();
  }
  struct stat status {};
  return ::stat(path_.c_str(), &status) == 0;
}

LoadedList ListSource::list(const orbitforge::util::Key& key) const {
  return update_ != nullptr ? load_list(*update_, key) : load_list(path_, key);
}

bool ListSource::canonical_values(const orbitforge::util::Key& key, Addresses& values) const {
  return update_ != nullptr ? read_canonical_values(*update_, key, values)
                            : read_canonical_values(path_, key, values);
}

LoadedInventory ListSource::inventory(int key_version) const {
  return update_ != nullptr ? load_inventory(*update_, key_version)
                            : load_inventory(path_, key_version);
}

bool could_write(const std::string& path) {
  // A directory still to be made is made in the nearest one that exists.
  std::string dir = parent_of(path);
  struct stat status {};
  while (::stat(dir.c_str(), &status) != 0 && errno == ENOENT && dir != "/" && dir != ".") {
    dir = parent_of(dir);
  }
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    error("%s: cannot update: %s: %s", path.c_str(), dir.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace adrvet_list
