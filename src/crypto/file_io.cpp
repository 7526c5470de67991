#include "crypto/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "crypto/file_descriptor.h"
#include "crypto/file_update.h"

namespace orbitforge::util::detail {
namespace {

// Large reads and writes are split so that no single call exceeds what
// Linux transfers at once anyway.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

}  // namespace

bool write_all(int fd, const unsigned char* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t put = retry_on_interrupt(
        [&] { return ::write(fd, data + done, std::min(length - done, kMaxChunk)); });
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

LoadStatus read_whole_fd(int fd, std::vector<unsigned char>& data, std::uint64_t max_length) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
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
  if (read_at(fd, data.data() + old_size, new_size - old_size, 0)) {
    return LoadStatus::ok;
  }
  data.resize(old_size);
  return LoadStatus::read_failed;
}

LoadStatus read_whole_file(const char* path, std::vector<unsigned char>& data,
                           std::uint64_t max_length) {
  // Non-blocking, so that opening a FIFO never waits for a writer.
  const FileDescriptor fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) {
    return LoadStatus::cannot_open;
  }
  return read_whole_fd(fd.get(), data, max_length);
}

bool read_at(int fd, unsigned char* out, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = retry_on_interrupt([&] {
      return ::pread(fd, out + done, std::min(size - done, kMaxChunk),
                     static_cast<off_t>(offset + done));
    });
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
  return write_file(path, first, static_cast<std::size_t>(last - first)).ok();
}

bool save_file(const char* path, const std::vector<unsigned char>& buffer) {
  return save_file(path, buffer.data(), buffer.data() + buffer.size());
}

}  // namespace orbitforge::util::detail
