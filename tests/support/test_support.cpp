#include "support/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "crypto/container.h"
#include "crypto/key_versions.h"

namespace adrvet_test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/adrvet-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.good()) {
    throw std::runtime_error("cannot write " + path);
  }
}

void write_file(const std::string& path, const std::string& text) {
  write_file(path, to_bytes(text));
}

bool write_list_text(const std::string& path, const std::string& text) {
  return orbitforge::util::write_container(path.c_str(),
                                           reinterpret_cast<const unsigned char*>(text.data()),
                                           text.size(), orbitforge::util::key_for_version(1));
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path);
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool file_exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> list_directory(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

std::vector<std::string> temporary_files(const std::string& path) {
  std::vector<std::string> names = list_directory(path);
  names.erase(std::remove_if(
                  names.begin(), names.end(),
                  [](const std::string& name) { return name.find(".tmp-") == std::string::npos; }),
              names.end());
  return names;
}

Bytes from_hex(const std::string& hex) {
  if (hex.size() % 2 != 0) {
    throw std::invalid_argument("odd hex length");
  }
  Bytes bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Bytes to_bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string hex12(std::uint64_t value) {
  char text[13];
  std::snprintf(text, sizeof text, "%012llx",
                static_cast<unsigned long long>(value & 0xFFFFFFFFFFFFULL));
  return text;
}

std::string colon_address(std::uint64_t value) {
  const std::string digits = hex12(value);
  std::string text;
  for (std::size_t i = 0; i < 12; i += 2) {
    text += (i == 0 ? "" : ":") + digits.substr(i, 2);
  }
  return text;
}

namespace {

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return "";
  }
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string upper(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

}  // namespace

std::vector<VectorRecord> read_vector_file(const std::string& relative_path) {
  const std::string path = std::string(ADRVET_VECTORS_DIR) + "/" + relative_path;
  std::ifstream in(path);
  if (!in) {
    throw std::runtime_error("missing vector file " + path);
  }
  std::vector<VectorRecord> records;
  VectorRecord current;
  std::string section;
  auto flush = [&] {
    if (!current.fields.empty()) {
      current.section = section;
      records.push_back(current);
      current = {};
    }
  };
  std::string line;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty()) {
      flush();
      continue;
    }
    if (line[0] == '#') {
      continue;
    }
    if (line[0] == '[') {
      flush();
      section = upper(line.substr(1, line.find(']') - 1));
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      continue;
    }
    current.fields[upper(trim(line.substr(0, equals)))] = trim(line.substr(equals + 1));
  }
  flush();
  return records;
}

std::uint64_t test_seed() {
  static const std::uint64_t seed = [] {
    const char* fixed = std::getenv("ADRVET_TEST_SEED");
    const std::uint64_t value =
        fixed != nullptr ? std::strtoull(fixed, nullptr, 0) : std::random_device{}();
    std::cout << "random seed: ADRVET_TEST_SEED=" << value << std::endl;
    return value;
  }();
  return seed;
}

bool wrapped_run() { return std::getenv("ADRVET_TEST_WRAPPER") != nullptr; }

Bytes random_bytes(std::mt19937_64& rng, std::size_t count) {
  Bytes bytes(count);
  for (auto& b : bytes) {
    b = static_cast<unsigned char>(rng());
  }
  return bytes;
}

namespace {

// ADRVET_TEST_WRAPPER (for example a valgrind command line) runs the
// project's own programs under a tool; other programs run as they are.
std::vector<std::string> wrapper_for(const std::string& program) {
  std::vector<std::string> words;
  const char* wrapper = std::getenv("ADRVET_TEST_WRAPPER");
  if (wrapper == nullptr || (program != ADRVET_BINARY && program != ADRVET_LIST_BINARY)) {
    return words;
  }
  std::istringstream split(wrapper);
  for (std::string word; split >> word;) {
    words.push_back(word);
  }
  return words;
}

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

[[noreturn]] void exec_child(const std::string& program, const std::vector<std::string>& args,
                             const ProcessOptions& options, int in_fd, int out_fd, int err_fd) {
  ::dup2(in_fd, STDIN_FILENO);
  ::dup2(out_fd, STDOUT_FILENO);
  ::dup2(err_fd, STDERR_FILENO);
  if (options.address_space_limit) {
    const rlimit limit{*options.address_space_limit, *options.address_space_limit};
    ::setrlimit(RLIMIT_AS, &limit);
  }
  if (options.as_nobody && ::geteuid() == 0) {
    constexpr unsigned kNobody = 65534;
    const std::vector<gid_t> groups(options.extra_groups.begin(), options.extra_groups.end());
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(kNobody) != 0 ||
        ::setuid(kNobody) != 0) {
      ::_exit(126);
    }
  }
  std::vector<std::string> words = wrapper_for(program);
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

}  // namespace

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const ProcessOptions& options) {
  int in_pipe[2];
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0 ||
      ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    exec_child(program, args, options, in_pipe[0], out_pipe[1], err_pipe[1]);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  set_nonblocking(in_pipe[1]);
  ::signal(SIGPIPE, SIG_IGN);

  ProcessResult result;
  std::size_t written = 0;
  int in_fd = in_pipe[1];
  if (options.stdin_text.empty()) {
    ::close(in_fd);
    in_fd = -1;
  }
  int out_fd = out_pipe[0];
  int err_fd = err_pipe[0];
  const auto started = std::chrono::steady_clock::now();
  const auto deadline = started + std::chrono::seconds(options.timeout_seconds);
  while (out_fd >= 0 || err_fd >= 0) {
    if (options.kill_after_microseconds && !result.killed &&
        std::chrono::steady_clock::now() - started >=
            std::chrono::microseconds(*options.kill_after_microseconds)) {
      ::kill(pid, SIGKILL);
      result.killed = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      result.timed_out = true;
      break;
    }
    pollfd fds[3] = {{in_fd, POLLOUT, 0}, {out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    const int wait_ms = options.kill_after_microseconds && !result.killed ? 1 : 100;
    if (::poll(fds, 3, wait_ms) < 0) {
      continue;
    }
    if (in_fd >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n =
          ::write(in_fd, options.stdin_text.data() + written, options.stdin_text.size() - written);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
      }
      if ((n < 0 && errno != EAGAIN) || written == options.stdin_text.size()) {
        ::close(in_fd);
        in_fd = -1;
      }
    }
    for (int i = 1; i < 3; ++i) {
      int& fd = i == 1 ? out_fd : err_fd;
      if (fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        char chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
          (i == 1 ? result.out : result.err).append(chunk, static_cast<std::size_t>(n));
        } else {
          ::close(fd);
          fd = -1;
        }
      }
    }
  }
  for (int fd : {in_fd, out_fd, err_fd}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  }
  return result;
}

ProcessResult run_list_tool(const std::vector<std::string>& args, const std::string& input,
                            int timeout_seconds) {
  ProcessOptions options;
  options.stdin_text = input;
  options.timeout_seconds = timeout_seconds;
  return run_process(ADRVET_LIST_BINARY, args, options);
}

std::vector<ProcessResult> run_concurrently(const std::string& program,
                                            const std::vector<std::vector<std::string>>& commands,
                                            const ProcessOptions& options) {
  std::vector<ProcessResult> results(commands.size());
  std::vector<std::thread> threads;
  threads.reserve(commands.size());
  for (std::size_t i = 0; i < commands.size(); ++i) {
    threads.emplace_back([&, i] { results[i] = run_process(program, commands[i], options); });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  return results;
}

}  // namespace adrvet_test
