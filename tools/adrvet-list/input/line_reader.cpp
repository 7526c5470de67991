#include "input/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/file_descriptor.h"

namespace adrvet_list {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

}  // namespace

LineReader::LineReader(int fd, std::size_t max_kept)
    : fd_(fd), max_kept_(max_kept), chunk_(kChunk) {}

bool LineReader::fill() {
  const ssize_t got = orbitforge::util::retry_on_interrupt(
      [&] { return ::read(fd_, chunk_.data(), chunk_.size()); });
  if (got < 0) {
    error_ = errno;
  }
  begin_ = 0;
  end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  at_end_ = got <= 0;
  return !at_end_;
}

bool LineReader::next(InputLine& line) {
  pending_.clear();
  std::uint64_t length = 0;
  for (;;) {
    if (begin_ == end_ && (at_end_ || !fill())) {
      if (length == 0) {
        return false;  // nothing after the last line feed
      }
      break;
    }
    const char* start = chunk_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', available));
    const std::size_t piece =
        newline != nullptr ? static_cast<std::size_t>(newline - start) : available;
    if (newline != nullptr && length == 0) {
      // The whole line lies in this piece: no copy.
      begin_ += piece + 1;
      line.number = ++number_;
      line.length = piece;
      line.kept = std::string_view(start, std::min(piece, max_kept_));
      return true;
    }
    const std::size_t room = max_kept_ - std::min(pending_.size(), max_kept_);
    pending_.append(start, std::min(piece, room));
    length += piece;
    begin_ += piece;
    if (newline != nullptr) {
      ++begin_;
      break;
    }
  }
  line.number = ++number_;
  line.length = length;
  line.kept = pending_;
  return true;
}

int open_input(const std::string& input, std::string& reason) {
  if (input == "-") {
    return STDIN_FILENO;
  }
  // Non-blocking, so that a FIFO never makes the open wait.
  orbitforge::util::FileDescriptor fd(
      ::open(input.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) {
    reason = std::strerror(errno);
    return -1;
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    reason = "not a regular file";
    return -1;
  }
  return fd.release();
}

}  // namespace adrvet_list
