#include "crypto/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace orbitforge::util::detail {
namespace {

// Large reads and writes are split so that no single call exceeds what
// Linux transfers at once anyway.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  [[nodiscard]] int get() const noexcept { return fd_; }
  [[nodiscard]] bool valid() const noexcept { return fd_ >= 0; }
  // Closes now and reports the result: a failed close can mean lost data.
  bool close() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool write_all(int fd, const unsigned char* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t put = ::write(fd, data + done, std::min(length - done, kMaxChunk));
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// A symbolic link is followed, so that the file it names is replaced and
// the link itself stays a link.
std::string resolve_target(const char* path) {
  struct stat link_status {};
  if (::lstat(path, &link_status) == 0 && S_ISLNK(link_status.st_mode)) {
    if (char* resolved = ::realpath(path, nullptr)) {
      std::string target(resolved);
      std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath allocates with malloc
      return target;
    }
  }
  return path;
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_name_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr std::size_t kMaxBaseInName = 128;  // stays well inside NAME_MAX

// Temporary files of `target` start with ".<name>.tmp-", then the writer's pid.
std::string temporary_prefix(const std::string& target) {
  return "." + base_name_of(target).substr(0, kMaxBaseInName) + ".tmp-";
}

std::string in_directory(const std::string& dir, const std::string& name) {
  return (dir == "/" ? "" : dir) + "/" + name;
}

// Hidden, recognisable name beside the target: ".<name>.tmp-<pid>-<n>-<t>".
std::string temporary_name(const std::string& target, unsigned attempt) {
  static std::atomic<unsigned> sequence{0};
  const auto ticks =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[96];
  (void)std::snprintf(suffix, sizeof suffix, "%ld-%u-%llx", static_cast<long>(::getpid()),
                      sequence.fetch_add(1) + attempt, ticks & 0xffffffULL);
  return in_directory(directory_of(target), temporary_prefix(target) + suffix);
}

// A writer killed before its rename leaves its temporary file behind; the
// next write of the same target removes those whose writer is gone.
void remove_stale_temporaries(const std::string& target) {
  const std::string dir = directory_of(target);
  const std::string prefix = temporary_prefix(target);
  DIR* entries = ::opendir(dir.c_str());
  if (entries == nullptr) {
    return;
  }
  while (const dirent* entry = ::readdir(entries)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    const bool writer_gone = pid > 0 && end != nullptr && *end == '-' &&
                             ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    if (writer_gone) {
      ::unlink(in_directory(dir, name).c_str());
    }
  }
  ::closedir(entries);
}

int create_temporary(const std::string& target, std::string& temp_path) {
  constexpr unsigned kAttempts = 100;
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    temp_path = temporary_name(target, attempt);
    // 0666 lets the umask decide, as for any newly created file.
    const int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  return -1;
}

void sync_directory(const std::string& target) {
  const FileDescriptor dir(
      ::open(directory_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) {
    ::fsync(dir.get());  // durability of the rename; the data is already safe
  }
}

bool write_in_place(const std::string& target, const unsigned char* data, std::size_t length) {
  FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY));
  return fd.valid() && write_all(fd.get(), data, length) && fd.close();
}

bool keep_attributes(int fd, const struct stat& old_status) {
  if (::fchmod(fd, old_status.st_mode & 07777) != 0) {
    return false;
  }
  // Ownership can only be kept by a privileged writer; anyone else becomes
  // the owner, as with any file they replace.
  if (::fchown(fd, old_status.st_uid, old_status.st_gid) != 0) {
    errno = 0;
  }
  return true;
}

bool replace_atomically(const std::string& target, const struct stat* old_status,
                        const unsigned char* data, std::size_t length) {
  remove_stale_temporaries(target);
  std::string temp_path;
  FileDescriptor fd(create_temporary(target, temp_path));
  if (!fd.valid()) {
    return false;
  }
  const bool written = (old_status == nullptr || keep_attributes(fd.get(), *old_status)) &&
                       write_all(fd.get(), data, length) && ::fsync(fd.get()) == 0;
  const bool closed = fd.close();
  if (!written || !closed || ::rename(temp_path.c_str(), target.c_str()) != 0) {
    ::unlink(temp_path.c_str());
    return false;
  }
  sync_directory(target);
  return true;
}

}  // namespace

LoadStatus read_whole_file(const char* path, std::vector<unsigned char>& data,
                           std::uint64_t max_length) {
  // Non-blocking, so that opening a FIFO never waits for a writer.
  const FileDescriptor fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) {
    return LoadStatus::cannot_open;
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
    return LoadStatus::not_regular_file;
  }
  const auto length = static_cast<std::uint64_t>(status.st_size);
  if (length > max_length) {
    return LoadStatus::too_large;
  }
  if (length == 0) {
    return LoadStatus::ok;
  }
  const std::size_t old_size = data.size();
  if (length > data.max_size() - old_size - 16) {
    throw std::length_error("file larger than memory can hold");
  }
  const std::size_t new_size = old_size + static_cast<std::size_t>(length);
  // Room for a container's zero pad, so sealing never reallocates.
  data.reserve(new_size / 16 * 16 + 16);
  data.resize(new_size);
  return read_at(fd.get(), data.data() + old_size, new_size - old_size, 0)
             ? LoadStatus::ok
             : LoadStatus::read_failed;
}

bool read_at(int fd, unsigned char* out, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, out + done, std::min(size - done, kMaxChunk),
                                static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool load_file(const char* path, std::vector<unsigned char>& data, std::uint64_t max_length) {
  return read_whole_file(path, data, max_length) == LoadStatus::ok;
}

bool save_file(const char* path, const unsigned char* first, const unsigned char* last) {
  const std::string target = resolve_target(path);
  const auto length = static_cast<std::size_t>(last - first);
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0) {
    return errno == ENOENT && replace_atomically(target, nullptr, first, length);
  }
  if (!S_ISREG(status.st_mode)) {
    return write_in_place(target, first, length);
  }
  return replace_atomically(target, &status, first, length);
}

bool save_file(const char* path, const std::vector<unsigned char>& buffer) {
  return save_file(path, buffer.data(), buffer.data() + buffer.size());
}

}  // namespace orbitforge::util::detail
