// Whole-file reading and crash-safe writing, shared by the container and
// digest operations. Not part of the public interface.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace orbitforge::util::detail {

inline constexpr std::uint64_t kNoLengthLimit = std::numeric_limits<std::uint64_t>::max();

enum class LoadStatus {
  ok,
  cannot_open,       // missing, no permission, bad path
  not_regular_file,  // directory, FIFO, device: none of them is ever waited on
  too_large,         // longer than the caller's limit
  read_failed,       // an error or fewer bytes than the file's length
};

// Appends the whole content of the regular file at `path` to `data`.
// Existing content of `data` is kept.
LoadStatus read_whole_file(const char* path, std::vector<unsigned char>& data,
                           std::uint64_t max_length = kNoLengthLimit);

// The same, true only for LoadStatus::ok.
bool load_file(const char* path, std::vector<unsigned char>& data,
               std::uint64_t max_length = kNoLengthLimit);

// The same for a file already open.
LoadStatus read_whole_fd(int fd, std::vector<unsigned char>& data,
                         std::uint64_t max_length = kNoLengthLimit);

// Writes all `length` bytes to `fd`; false on an error.
bool write_all(int fd, const unsigned char* data, std::size_t length);

// Reads exactly `size` bytes at `offset` of the open file `fd`; false on an
// error or end of file first.
bool read_at(int fd, unsigned char* out, std::size_t size, std::uint64_t offset);

// Replaces the file at `path` with the bytes [first, last), as write_file
// (file_update.h) does: crash-safe, links trusted only when root's or the
// writer's, a new file created 0600. True only when every byte was written
// and the file was closed without error.
bool save_file(const char* path, const unsigned char* first, const unsigned char* last);
bool save_file(const char* path, const std::vector<unsigned char>& buffer);

}  // namespace orbitforge::util::detail
