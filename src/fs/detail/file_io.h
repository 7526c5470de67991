// Whole-file reading and writing to descriptors, beneath the safe-file
// layer and the container and digest operations. Not installed.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "base/file_descriptor.h"

namespace orbitforge::util::detail {

inline constexpr std::uint64_t kNoLengthLimit = std::numeric_limits<std::uint64_t>::max();

enum class LoadStatus {
  ok,
  cannot_open,       // missing, no permission, bad path
  not_regular_file,  // directory, FIFO, device: none of them is ever waited on
  too_large,         // longer than the caller's limit
  read_failed,       // an error or fewer bytes than the file's length
};

// A LoadStatus with the system's error number of the call that failed.
struct LoadResult {
  LoadStatus status = LoadStatus::ok;
  int error = 0;
  [[nodiscard]] bool ok() const noexcept { return status == LoadStatus::ok; }
};

// Reads exactly `size` bytes at `offset` of the open file `fd`; false on an
// error or end of file first (errno then EIO).
bool read_at(int fd, unsigned char* out, std::size_t size, std::uint64_t offset);

// The length of the regular file `fd`, when it is one and within `max_length`.
LoadStatus regular_file_length(int fd, std::uint64_t max_length, std::uint64_t& length);

// Opens `path` for reading without waiting (a FIFO never blocks); -1 on failure.
int open_for_reading(const char* path);

// Appends the whole content of the regular file `fd` to `data` (a byte
// vector, plain or SecretBytes); existing content of `data` is kept.
template <typename Bytes>
LoadResult read_whole_fd(int fd, Bytes& data, std::uint64_t max_length = kNoLengthLimit) {
  std::uint64_t length = 0;
  if (const LoadStatus status = regular_file_length(fd, max_length, length);
      status != LoadStatus::ok || length == 0) {
    return {status, 0};
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
    return {};
  }
  const int error = errno;
  data.resize(old_size);
  return {LoadStatus::read_failed, error};
}

// The same for the regular file at `path`.
template <typename Bytes>
LoadResult read_whole_file(const char* path, Bytes& data,
                           std::uint64_t max_length = kNoLengthLimit) {
  const FileDescriptor fd(open_for_reading(path));  // closed when reading throws too
  if (!fd.valid()) {
    return {LoadStatus::cannot_open, errno};
  }
  return read_whole_fd(fd.get(), data, max_length);
}

// The same, true only for LoadStatus::ok.
template <typename Bytes>
bool load_file(const char* path, Bytes& data, std::uint64_t max_length = kNoLengthLimit) {
  return read_whole_file(path, data, max_length).ok();
}

// Writes all `length` bytes to `fd`; false on an error.
bool write_all(int fd, const unsigned char* data, std::size_t length);
// The same at `offset`, leaving the file position as it was.
bool write_all_at(int fd, const unsigned char* data, std::size_t length, std::uint64_t offset);

}  // namespace orbitforge::util::detail
