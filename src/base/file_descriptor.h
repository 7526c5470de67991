// An owned file descriptor, and the retry of system calls that a signal
// interrupted: shared by the library and adrvet-list, not installed.
#pragma once

#include <unistd.h>

#include <cerrno>

namespace orbitforge::util {

// Repeats `call` while it fails with EINTR; gives its last result.
template <typename Call>
auto retry_on_interrupt(Call call) {
  auto result = call();
  while (result < 0 && errno == EINTR) {
    result = call();
  }
  return result;
}

class FileDescriptor {
 public:
  FileDescriptor() noexcept = default;
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~FileDescriptor() { reset(); }

  [[nodiscard]] int get() const noexcept { return fd_; }
  [[nodiscard]] bool valid() const noexcept { return fd_ >= 0; }
  int release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) noexcept {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }
  // Closes now and reports the result: a failed close can mean lost data.
  bool close() noexcept { return ::close(release()) == 0; }

 private:
  int fd_ = -1;
};

}  // namespace orbitforge::util
