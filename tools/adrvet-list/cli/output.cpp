#include "cli/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/file_descriptor.h"
#include "common/messages.h"

namespace adrvet_list {
namespace {

constexpr std::size_t kOutputChunk = std::size_t{1} << 20;

}  // namespace

Output::~Output() {
  if (!finished_) {
    (void)finish();
  }
}

void Output::add(const char* data, std::size_t size) {
  wrote_ = wrote_ || size > 0;
  buffer_.append(data, size);
  if (buffer_.size() >= kOutputChunk) {
    (void)flush();
  }
}

bool Output::flush() {
  std::size_t done = 0;
  while (done < buffer_.size() && !failed_) {
    const ssize_t put = orbitforge::util::retry_on_interrupt(
        [&] { return ::write(STDOUT_FILENO, buffer_.data() + done, buffer_.size() - done); });
    if (put <= 0) {
      failed_ = true;
      error_ = put < 0 ? errno : EIO;
    } else {
      done += static_cast<std::size_t>(put);
    }
  }
  buffer_.clear();
  return !failed_;
}

bool Output::finish() {
  finished_ = true;
  const bool flushed = flush();
  // Closing reports delayed write errors (NFS, full disks behind a pipe).
  if (flushed && wrote_ && ::close(STDOUT_FILENO) != 0) {
    error_ = errno;
    return false;
  }
  return flushed;
}

int finish_output(Output& out, int status) {
  if (!out.finish()) {
    error("cannot write to standard output: %s", std::strerror(out.error()));
    return kExitData;
  }
  return status;
}

int show_help(const char* text) {
  Output out;
  out.add(text, std::strlen(text));
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
