#include "sync/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace adrvet_list {
namespace {

// Enough of a checker's output to hold its message; the end holds the error.
constexpr std::size_t kKeptOutput = 16384;
// How many of the last lines a message quotes.
constexpr std::size_t kQuotedLines = 4;
constexpr int kPollMilliseconds = 50;

void keep_tail(std::string& output, const char* data, std::size_t size) {
  output.append(data, size);
  if (output.size() > 2 * kKeptOutput) {
    output.erase(0, output.size() - kKeptOutput);
  }
}

[[noreturn]] void exec_child(const std::vector<char*>& argv, int output_fd, int error_fd) {
  ::setpgid(0, 0);
  const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd >= 0) {
    ::dup2(null_fd, STDIN_FILENO);
  }
  ::dup2(output_fd, STDOUT_FILENO);
  ::dup2(output_fd, STDERR_FILENO);
  ::execvp(argv[0], argv.data());
  const int failure = errno;
  (void)!::write(error_fd, &failure, sizeof failure);
  ::_exit(127);
}

// The errno the child sent if exec failed, or 0 once exec succeeded.
int exec_error(int error_fd) {
  int failure = 0;
  ssize_t got = 0;
  do {
    got = ::read(error_fd, &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(sizeof failure) ? failure : 0;
}

void record_exit(int status, CommandResult& result) {
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
}

// Reads what the child wrote so far, without waiting; false at the end.
bool read_available(int output_fd, CommandResult& result) {
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(output_fd, chunk, sizeof chunk);
    if (got > 0) {
      keep_tail(result.output, chunk, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      return got < 0 && errno == EAGAIN;
    }
  }
}

// Reads the child's output until it exits (a daemon it started may keep the
// pipe open long after, so its end is the child's exit) or the time is up.
void collect(pid_t child, int output_fd, std::chrono::seconds limit, CommandResult& result) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool open = true;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(child, &status, result.timed_out ? 0 : WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) {
      if (open) {
        (void)read_available(output_fd, result);
      }
      record_exit(status, result);
      return;
    }
    if (!result.timed_out && std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
      ::kill(-child, SIGKILL);
      ::kill(child, SIGKILL);
      continue;
    }
    pollfd waiting{open ? output_fd : -1, POLLIN, 0};
    if (::poll(&waiting, 1, kPollMilliseconds) > 0 && open) {
      open = read_available(output_fd, result);
    }
  }
}

}  // namespace

CommandResult run_command(const CommandWords& words, std::chrono::seconds limit) {
  CommandResult result;
  if (words.empty()) {
    result.start_error = EINVAL;
    return result;
  }
  std::vector<std::string> copies(words);
  std::vector<char*> argv;
  for (std::string& word : copies) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  int output_pipe[2];
  int error_pipe[2];
  if (::pipe2(output_pipe, O_CLOEXEC) != 0) {
    result.start_error = errno;
    return result;
  }
  if (::pipe2(error_pipe, O_CLOEXEC) != 0) {
    result.start_error = errno;
    ::close(output_pipe[0]);
    ::close(output_pipe[1]);
    return result;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    exec_child(argv, output_pipe[1], error_pipe[1]);
  }
  const int fork_error = errno;
  ::close(output_pipe[1]);
  ::close(error_pipe[1]);
  if (child < 0) {
    result.start_error = fork_error;
  } else {
    ::setpgid(child, child);  // also here, so that a kill cannot come before the child's own
    result.start_error = exec_error(error_pipe[0]);
    (void)::fcntl(output_pipe[0], F_SETFL, O_NONBLOCK);
    result.started = result.start_error == 0;
    collect(child, output_pipe[0], limit, result);
  }
  ::close(output_pipe[0]);
  ::close(error_pipe[0]);
  return result;
}

std::string describe_outcome(const CommandResult& result) {
  if (!result.started) {
    return std::string("cannot run it: ") + std::strerror(result.start_error);
  }
  std::string text;
  if (result.timed_out) {
    text = "did not finish in time and was killed";
  } else if (result.signal != 0) {
    text = std::string("killed by signal ") + std::to_string(result.signal);
  } else {
    text = "exit status " + std::to_string(result.exit_status);
  }
  // The last few lines: where checkers put the error.
  std::vector<std::string_view> lines;
  std::string_view rest = result.output;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    rest = newline == std::string_view::npos ? std::string_view{} : rest.substr(newline + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
      line.remove_suffix(1);
    }
    if (!line.empty()) {
      lines.push_back(line);
    }
  }
  const std::size_t first = lines.size() > kQuotedLines ? lines.size() - kQuotedLines : 0;
  for (std::size_t i = first; i < lines.size(); ++i) {
    text += i == first ? ": " : " | ";
    text += lines[i];
  }
  return text;
}

}  // namespace adrvet_list
