#include "fs/detail/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/file_descriptor.h"

namespace orbitforge::util::detail {
namespace {

// Large reads and writes are split so that no single call exceeds what
// Linux transfers at once anyway.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

// Calls write_some(done, size) until `length` bytes are written; a write
// that makes no progress is an I/O error.
template <typename WriteSome>
bool write_fully(std::size_t length, const WriteSome& write_some) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t put =
        retry_on_interrupt([&] { return write_some(done, std::min(length - done, kMaxChunk)); });
    if (put <= 0) {
      if (put == 0) {
        errno = EIO;
      }
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

bool write_all(int fd, const unsigned char* data, std::size_t length) {
  return write_fully(
      length, [&](std::size_t done, std::size_t size) { return ::write(fd, data + done, size); });
}

bool write_all_at(int fd, const unsigned char* data, std::size_t length, std::uint64_t offset) {
  return write_fully(length, [&](std::size_t done, std::size_t size) {
    return ::pwrite(fd, data + done, size, static_cast<off_t>(offset + done));
  });
}

LoadStatus regular_file_length(int fd, std::uint64_t max_length, std::uint64_t& length) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
    return LoadStatus::not_regular_file;
  }
  length = static_cast<std::uint64_t>(status.st_size);
  return length > max_length ? LoadStatus::too_large : LoadStatus::ok;
}

int open_for_reading(const char* path) {
  return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

bool read_at(int fd, unsigned char* out, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = retry_on_interrupt([&] {
      return ::pread(fd, out + done, std::min(size - done, kMaxChunk),
                     static_cast<off_t>(offset + done));
    });
    if (got <= 0) {
      if (got == 0) {
        errno = EIO;  // the file ended early: it shrank
      }
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace orbitforge::util::detail
