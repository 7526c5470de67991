#include "support/other_user.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace adrvet_test {
namespace {

std::vector<std::string> setpriv_words(const std::vector<unsigned>& groups) {
  std::vector<std::string> words = {"--reuid", std::to_string(kNobody), "--regid",
                                    std::to_string(kNobody)};
  if (groups.empty()) {
    words.emplace_back("--clear-groups");
  } else {
    std::string list;
    for (const unsigned group : groups) {
      list += (list.empty() ? "" : ",") + std::to_string(group);
    }
    words.emplace_back("--groups");
    words.push_back(list);
  }
  return words;
}

std::string read_setting(const std::string& path) {
  std::ifstream in(path);
  std::string value;
  std::getline(in, value);
  return value;
}

}  // namespace

ProcessResult run_as_nobody(const std::string& script, const std::vector<unsigned>& groups,
                            int timeout_seconds) {
  std::vector<std::string> args = setpriv_words(groups);
  args.insert(args.end(), {"/bin/sh", "-c", "umask 0; " + script});
  ProcessOptions options;
  options.timeout_seconds = timeout_seconds;
  return run_process("/usr/bin/setpriv", args, options);
}

Background::Background(const std::string& script, const std::string& ready, bool as_nobody,
                       const std::vector<unsigned>& groups) {
  std::vector<std::string> words;
  if (as_nobody) {
    words.emplace_back("/usr/bin/setpriv");
    const std::vector<std::string> rest = setpriv_words(groups);
    words.insert(words.end(), rest.begin(), rest.end());
  }
  words.insert(words.end(), {"/bin/sh", "-c", "umask 0; " + script});
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    std::vector<char*> argv;
    for (std::string& word : words) {
      argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::setpgid(pid_, pid_);
  // Waits for the script, not for time: bounded only so that a broken
  // script cannot hang the test run.
  for (int i = 0; i < 30000 && !ready_; ++i) {
    struct stat status {};
    ready_ = ::stat(ready.c_str(), &status) == 0;
    if (!ready_ && ::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      reaped_ = true;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int Background::stop() {
  if (pid_ <= 0 || reaped_) {
    return -1;
  }
  ::kill(-pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  reaped_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Background::~Background() { (void)stop(); }

KernelSetting::KernelSetting(const std::string& name, const std::string& value)
    : path_("/proc/sys/fs/" + name) {
  const std::string old = read_setting(path_);
  std::ofstream out(path_);
  out << value << '\n';
  out.close();
  if (out && read_setting(path_) == value) {
    old_ = old;
  }
}

KernelSetting::~KernelSetting() {
  if (old_) {
    std::ofstream out(path_);
    out << *old_ << '\n';
  }
}

std::string kernel_setting(const std::string& name) {
  return name + "=" + read_setting("/proc/sys/fs/" + name);
}

}  // namespace adrvet_test
