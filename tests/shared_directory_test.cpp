// Root's writer in directories that other users can write to: whatever an
// unprivileged user (uid 65534) plants or swaps there, nothing outside the
// list changes, nothing hangs, and the writer says why it refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::read_file;
using adrvet_test::run_process;
using adrvet_test::TempDir;
using adrvet_test::write_file;

constexpr uid_t kNobody = 65534;

ProcessResult as_nobody(const std::string& script) {
  adrvet_test::ProcessOptions options;
  options.as_nobody = true;
  options.timeout_seconds = 60;
  return run_process("/bin/sh", {"-c", script}, options);
}

class SharedDirectory : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) {
      GTEST_SKIP() << "needs root, to be attacked by another user";
    }
    ::chmod(top_.path().c_str(), 0755);
    ::mkdir(shared_.c_str(), 0755);
    if (std::string(GetParam()) == "sticky") {
      ::chmod(shared_.c_str(), 01777);  // like /tmp
    } else {
      ASSERT_EQ(::chown(shared_.c_str(), kNobody, kNobody), 0);  // the attacker's own
    }
    // Root's private file that the attacker wants overwritten.
    ::mkdir(private_dir_.c_str(), 0700);
    write_file(victim_, std::string("root's secret\n"));
    ::chmod(victim_.c_str(), 0600);
    write_file(input_, std::string("00:11:22:33:44:55\n"));
  }
  // Plants `what` as uid 65534, then lets root pack into the list.
  ProcessResult plant_then_pack(const std::string& what) {
    const ProcessResult planted = as_nobody(what);
    EXPECT_EQ(planted.exit_status, 0) << what << ": " << planted.err;
    return list_tool({"pack", "-k", "S", "--wait", "1", input_, list_});
  }
  void expect_victim_untouched() const {
    EXPECT_EQ(read_file(victim_), adrvet_test::to_bytes("root's secret\n"));
    struct stat status {};
    ASSERT_EQ(::stat(victim_.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0U);
    EXPECT_EQ(status.st_mode & 07777, 0600U);
  }

  TempDir top_;
  std::string shared_ = top_.file("shared");
  std::string list_ = shared_ + "/list.dat";
  std::string private_dir_ = top_.file("private");
  std::string victim_ = private_dir_ + "/victim";
  std::string input_ = top_.file("input.txt");
};

TEST_P(SharedDirectory, PlantedLinksAndFilesAreRefusedWithAReason) {
  ASSERT_EQ(::mkfifo(top_.file("fifo").c_str(), 0666), 0);
  struct Case {
    std::string plant;
    std::string says;
  };
  const std::string lock = shared_ + "/.list.dat.lock";
  const Case cases[] = {
      {"ln -s " + victim_ + " " + list_, "symbolic link owned by another user (uid 65534)"},
      {"ln -s " + top_.file("fifo") + " " + list_, "symbolic link owned by another user"},
      {"ln -s /dev/null " + list_, "symbolic link owned by another user"},
      {"ln -s " + victim_ + " " + lock, "lock file"},
      {"mkfifo " + lock, "lock file"},
  };
  for (const Case& c : cases) {
    const ProcessResult result = plant_then_pack(c.plant);
    EXPECT_FALSE(result.timed_out) << c.plant;
    EXPECT_EQ(result.exit_status, 1) << c.plant << ": " << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << c.plant << ": " << result.err;
    expect_victim_untouched();
    ASSERT_EQ(as_nobody("rm -f " + list_ + " " + lock).exit_status, 0);
  }
  // Once the planted names are gone, root's write goes through.
  EXPECT_EQ(list_tool({"pack", "-k", "S", input_, list_}).exit_status, 0);
}

TEST_P(SharedDirectory, OtherUsersTemporaryLookalikesAreNeitherFollowedNorRemoved) {
  ASSERT_EQ(list_tool({"pack", "-k", "S", input_, list_}).exit_status, 0);
  const std::string prefix = shared_ + "/.list.dat.tmp-";
  // Stale-looking names: a dead pid, this process's pid, links and files.
  ASSERT_EQ(
      as_nobody("ln -s " + victim_ + " " + prefix + "99999-0-1 && ln -s " + victim_ + " " + prefix +
                std::to_string(::getpid()) + "-0-0 && echo mine > " + prefix + "1-0-0")
          .exit_status,
      0);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(
        list_tool({"add", "-k", "S", list_, "00:11:22:33:44:0" + std::to_string(i)}).exit_status,
        0);
  }
  expect_victim_untouched();
  for (const char* name : {"99999-0-1", "1-0-0"}) {
    struct stat status {};
    EXPECT_EQ(::lstat((prefix + name).c_str(), &status), 0) << "removed another user's " << name;
  }
}

TEST_P(SharedDirectory, ALinkSwappedInDuringUpdatesIsNeverWrittenThrough) {
  if (std::string(GetParam()) == "sticky") {
    GTEST_SKIP() << "in a sticky directory the attacker cannot replace root's list at all";
  }
  ASSERT_EQ(list_tool({"pack", "-k", "S", input_, list_}).exit_status, 0);
  // The attacker keeps swapping the list for a link to root's file and back.
  adrvet_test::ProcessOptions options;
  options.as_nobody = true;
  options.timeout_seconds = 60;
  pid_t attacker = ::fork();
  if (attacker == 0) {
    const auto result =
        run_process("/bin/sh",
                    {"-c", "cd " + shared_ + " && i=0; while [ $i -lt 3000 ]; do ln -sf " +
                               victim_ + " evil && mv -f evil list.dat; i=$((i+1)); done"},
                    options);
    ::_exit(result.exit_status);
  }
  for (int i = 0; i < 2000; ++i) {  // until the first swap
    struct stat status {};
    if (::lstat(list_.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
      break;
    }
    ::usleep(1000);
  }
  int refused = 0;
  for (int i = 0; i < 100; ++i) {
    const ProcessResult result =
        i % 2 == 0
            ? list_tool({"pack", "-k", "S", "--wait", "2", input_, list_})
            : list_tool({"add", "-k", "S", "--wait", "2", "--force", list_, "00:11:22:33:44:56"});
    EXPECT_FALSE(result.timed_out);
    if (result.exit_status != 0) {
      ++refused;
      EXPECT_TRUE(result.err.find("cannot update") != std::string::npos ||
                  result.err.find("ADRVET would answer") != std::string::npos)
          << result.err;
    }
  }
  ::kill(attacker, SIGKILL);
  ::waitpid(attacker, nullptr, 0);
  expect_victim_untouched();
  EXPECT_GT(refused, 0) << "the attack never got in the way: it proved nothing";
}

INSTANTIATE_TEST_SUITE_P(Kinds, SharedDirectory, ::testing::Values("sticky", "attacker_owned"));

// Another user watching the directory for new files.
struct Watcher {
  pid_t pid = -1;
  int report = -1;
};

Watcher watch_as_nobody(const std::string& dir) {
  int fds[2];
  Watcher watcher;
  if (::pipe(fds) != 0) {
    return watcher;
  }
  watcher.pid = ::fork();
  if (watcher.pid == 0) {
    ::close(fds[0]);
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(1);
    }
    const int inotify = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(inotify, dir.c_str(), IN_CREATE);
    long seen = 0;
    long opened = 0;
    alignas(inotify_event) char buffer[4096];
    (void)::write(fds[1], "r", 1);
    for (;;) {
      pollfd p{inotify, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) {
        char line[64];
        const int n = std::snprintf(line, sizeof line, "%ld %ld\n", seen, opened);
        (void)::pwrite(fds[1], line, static_cast<std::size_t>(n), 0);
        continue;
      }
      const ssize_t got = ::read(inotify, buffer, sizeof buffer);
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        const std::string name = event->len > 0 ? event->name : "";
        if (name.find(".tmp-") != std::string::npos) {
          ++seen;
          const int fd = ::open((dir + "/" + name).c_str(), O_RDONLY | O_NONBLOCK);
          if (fd >= 0) {
            ++opened;
            ::close(fd);
          }
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
      char line[64];
      const int n = std::snprintf(line, sizeof line, "%ld %ld\n", seen, opened);
      (void)::write(fds[1], line, static_cast<std::size_t>(n));
    }
  }
  ::close(fds[1]);
  char ready = 0;
  (void)::read(fds[0], &ready, 1);
  watcher.report = fds[0];
  return watcher;
}

TEST(PrivateList, AnotherUserWatchingNeverOpensATemporaryAndGroupMembersKeepTheGroup) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root, to run another user";
  }
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::string list = dir.file("engine.dat");
  write_file(dir.file("in.txt"), std::string("00:11:22:33:44:55\n"));
  ASSERT_EQ(list_tool({"pack", "-k", "S", dir.file("in.txt"), list}).exit_status, 0);
  struct stat status {};
  ASSERT_EQ(::stat(list.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600U) << "a new list is private";

  Watcher watcher = watch_as_nobody(dir.path());
  ASSERT_GT(watcher.pid, 0);
  for (int i = 0; i < 200; ++i) {
    char address[32];
    (void)std::snprintf(address, sizeof address, "00:11:22:33:%02x:%02x", i / 256, i % 256);
    ASSERT_EQ(list_tool({"add", "-k", "S", list, address}).exit_status, 0);
  }
  ::usleep(200000);
  ::kill(watcher.pid, SIGKILL);
  ::waitpid(watcher.pid, nullptr, 0);
  std::string report;
  char chunk[4096];
  for (ssize_t n; (n = ::read(watcher.report, chunk, sizeof chunk)) > 0;) {
    report.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(watcher.report);
  long seen = 0;
  long opened = 0;
  const std::size_t last = report.rfind('\n', report.size() - 2);
  char* end = nullptr;
  seen = std::strtol(report.c_str() + (last == std::string::npos ? 0 : last + 1), &end, 10);
  opened = std::strtol(end, nullptr, 10);
  EXPECT_GT(seen, 100) << "the watcher saw too few temporaries to prove anything";
  EXPECT_EQ(opened, 0) << "another user read a temporary of a private list";

  // A member of the list's group tries to update it: the owner, group and mode stay.
  constexpr gid_t kGroup = 100;
  ASSERT_EQ(::chown(list.c_str(), 0, kGroup), 0);
  ASSERT_EQ(::chmod(list.c_str(), 0660), 0);
  ASSERT_EQ(::chown(dir.path().c_str(), 0, kGroup), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0770), 0);
  // Root's next update carries the list's new mode and group over to the lock.
  ASSERT_EQ(list_tool({"add", "-k", "S", list, "00:11:22:33:ff:fe"}).exit_status, 0);
  adrvet_test::ProcessOptions member;
  member.as_nobody = true;
  member.extra_groups = {kGroup};
  // The member's own update would make the member the list's owner: refused.
  const ProcessResult added =
      run_process(ADRVET_LIST_BINARY, {"add", "-k", "S", list, "00:11:22:33:ff:ff"}, member);
  EXPECT_EQ(added.exit_status, 1) << added.err;
  EXPECT_NE(added.err.find("belongs to another user (uid 0)"), std::string::npos) << added.err;
  ASSERT_EQ(::stat(list.c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 0U);
  EXPECT_EQ(status.st_gid, kGroup);
  EXPECT_EQ(status.st_mode & 0777, 0660U);
}

}  // namespace
