// Running attacks as another user: shell scripts under setpriv as uid and
// gid 65534 (with chosen supplementary groups), in the foreground or in
// the background, and kernel settings changed for one test and restored.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace adrvet_test {

inline constexpr unsigned kNobody = 65534;
inline constexpr unsigned kUsersGroup = 100;  // "users" on Debian

// `script` under /bin/sh as uid/gid 65534 with exactly `groups` as its
// supplementary groups, umask 0 unless the script sets one.
ProcessResult run_as_nobody(const std::string& script, const std::vector<unsigned>& groups = {},
                            int timeout_seconds = 60);

// A script running in the background in its own process group, as 65534
// or (as_nobody false) as the caller. The script says it is ready by
// creating the file `ready`; the constructor waits for that (or for the
// script's end). The whole group is killed when the object goes.
class Background {
 public:
  Background(const std::string& script, const std::string& ready, bool as_nobody = true,
             const std::vector<unsigned>& groups = {});
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  ~Background();
  [[nodiscard]] bool ready() const { return ready_; }
  [[nodiscard]] pid_t pid() const { return pid_; }
  // Kills the group and reaps the script; its exit status, or -1 when killed.
  int stop();

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
  bool reaped_ = false;
};

// /proc/sys/fs/NAME set to `value` for the life of the object, then restored.
class KernelSetting {
 public:
  KernelSetting(const std::string& name, const std::string& value);
  KernelSetting(const KernelSetting&) = delete;
  KernelSetting& operator=(const KernelSetting&) = delete;
  ~KernelSetting();
  [[nodiscard]] bool applied() const { return old_.has_value(); }

 private:
  std::string path_;
  std::optional<std::string> old_;
};

// The kernel's current setting /proc/sys/fs/NAME, for messages.
std::string kernel_setting(const std::string& name);

}  // namespace adrvet_test
