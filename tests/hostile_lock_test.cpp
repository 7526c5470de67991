// The list's lock against other users: readers of the list and former
// group members cannot hold it, a hard link to it does not stop the
// writers for good, a refusal names the real owner or holder, and a group
// member's update never makes the member the list's owner.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "support/list_tool_fixture.h"
#include "support/other_user.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Background;
using adrvet_test::Bytes;
using adrvet_test::kNobody;
using adrvet_test::kUsersGroup;
using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::read_file;
using adrvet_test::run_as_nobody;
using adrvet_test::TempDir;

struct stat status_of(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

class ListLock : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) {
      GTEST_SKIP() << "needs root, to be attacked by another user";
    }
    ::chmod(top_.path().c_str(), 0755);
    ASSERT_EQ(::mkdir(dir_.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(flags_.c_str(), 01777), 0);  // where the attacker says it is ready
    ASSERT_EQ(::chmod(flags_.c_str(), 01777), 0);
    adrvet_test::write_file(top_.file("in.txt"), std::string("00:11:22:33:44:55\n"));
  }
  // Root's list with `mode` and `group`, and its lock made by root's add.
  void make_list(unsigned mode, gid_t group) {
    ASSERT_EQ(list_tool({"pack", "-k", "S", top_.file("in.txt"), list_}).exit_status, 0);
    ASSERT_EQ(::chown(list_.c_str(), 0, group), 0);
    ASSERT_EQ(::chmod(list_.c_str(), mode), 0);
    ASSERT_EQ(list_tool({"add", "-k", "S", list_, "00:11:22:33:44:56"}).exit_status, 0);
  }
  ProcessResult root_adds(const char* wait = "1") {
    return list_tool({"add", "-k", "S", "--wait", wait, list_, "00:11:22:33:44:57"});
  }

  TempDir top_;
  std::string dir_ = top_.file("lists");
  std::string list_ = dir_ + "/engine.dat";
  std::string lock_ = dir_ + "/.engine.dat.lock";
  std::string flags_ = top_.file("flags");
  std::string ready_ = flags_ + "/ready";
};

// Whoever may only read the list cannot take its lock, whatever the list's
// mode: the lock would otherwise stop every update, removals included.
TEST_F(ListLock, ReadersCannotHoldTheLock) {
  struct Case {
    unsigned mode;
    gid_t group;
    std::vector<unsigned> reader_groups;
  };
  const Case cases[] = {
      {0644, 0, {}},                       // world-readable
      {0640, kUsersGroup, {kUsersGroup}},  // read through the group, as a daemon does
      {0604, kUsersGroup, {}},             // others read, the group does not
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    make_list(c.mode, c.group);
    const ProcessResult opened = run_as_nobody("flock -n -s " + lock_ + " true", c.reader_groups);
    EXPECT_NE(opened.exit_status, 0) << "a reader locked the list's lock";
    Background reader("exec flock -s " + lock_ + " sh -c 'touch " + ready_ + "; exec sleep 60'",
                      ready_, true, c.reader_groups);
    EXPECT_FALSE(reader.ready()) << "a reader holds the list's lock";
    const ProcessResult added = root_adds();
    EXPECT_EQ(added.exit_status, 0) << added.err;
    reader.stop();
    ::unlink(ready_.c_str());
    ::unlink(list_.c_str());
    ::unlink(lock_.c_str());
  }
}

// A lock that a process holds (an old reader's descriptor, a stuck writer):
// the writer that gives up names it.
TEST_F(ListLock, AWriterThatGivesUpNamesTheHolder) {
  make_list(0644, 0);
  struct Case {
    bool as_nobody;
    std::string uid;
  };
  for (const Case& c : {Case{false, "uid 0"}, Case{true, "uid 65534"}}) {
    // As a lock file of an older version: the list's mode, readable by all.
    ASSERT_EQ(::chmod(lock_.c_str(), 0644), 0);
    Background holder("exec flock -s " + lock_ + " sh -c 'touch " + ready_ + "; exec sleep 60'",
                      ready_, c.as_nobody);
    ASSERT_TRUE(holder.ready());
    const ProcessResult refused = root_adds("0.2");
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_NE(refused.err.find("pid " + std::to_string(holder.pid())), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find(c.uid), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("flock"), std::string::npos) << refused.err;
    holder.stop();
    ::unlink(ready_.c_str());
    const ProcessResult added = root_adds();
    EXPECT_EQ(added.exit_status, 0) << added.err;
    EXPECT_EQ(status_of(lock_).st_mode & 0777, 0600U) << "the lock kept a reader's access";
  }
}

// A hard link to the lock (kernel protection off, or a group member who may
// open it): the next writer takes the lock back instead of refusing for ever.
TEST_F(ListLock, AHardLinkToTheLockDoesNotStopTheWriters) {
  struct Case {
    const char* who;
    bool protection_off;
    unsigned mode;
    std::vector<unsigned> groups;
    std::string link;
  };
  const std::string shared = top_.file("shared");
  ASSERT_EQ(::mkdir(shared.c_str(), 01777), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const Case cases[] = {
      {"another user, fs.protected_hardlinks=0", true, 0600, {}, shared + "/kept-lock"},
      {"a group member", false, 0660, {kUsersGroup}, dir_ + "/kept-lock"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.who);
    std::optional<adrvet_test::KernelSetting> setting;
    if (c.protection_off) {
      setting.emplace("protected_hardlinks", "0");
      if (!setting->applied()) {
        std::cout << "skipped: cannot turn fs.protected_hardlinks off here\n";
        continue;
      }
    }
    ASSERT_EQ(::chown(dir_.c_str(), 0, kUsersGroup), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), c.groups.empty() ? 0755 : 0770), 0);
    make_list(c.mode, kUsersGroup);
    const ProcessResult linked = run_as_nobody("ln " + lock_ + " " + c.link, c.groups);
    ASSERT_EQ(linked.exit_status, 0) << linked.err;
    ASSERT_EQ(status_of(lock_).st_nlink, 2U);
    const ProcessResult added = root_adds();
    EXPECT_EQ(added.exit_status, 0) << added.err;
    EXPECT_EQ(status_of(lock_).st_nlink, 1U);
    // And the writers after it: the lock stays usable.
    EXPECT_EQ(list_tool({"remove", "-k", "S", list_, "00:11:22:33:44:57"}).exit_status, 0);
    ::unlink(c.link.c_str());
    ::unlink(list_.c_str());
    ::unlink(lock_.c_str());
  }
}

// Where the writer cannot take the lock back, the refusal names the lock's
// real owner and says what to remove.
TEST_F(ListLock, ALockTheWriterCannotTrustNamesItsOwnerAndWhatToRemove) {
  const std::string shared = top_.file("shared");
  ASSERT_EQ(::mkdir(shared.c_str(), 01777), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const std::string list = shared + "/list.dat";
  const std::string lock = shared + "/.list.dat.lock";
  const std::vector<std::string> plants = {
      "touch " + lock,                                                // another user's lock
      "touch " + shared + "/mine && ln " + shared + "/mine " + lock,  // linked too
      "ln -s " + shared + "/mine " + lock,                            // a link
      "mkfifo " + lock,
  };
  for (const std::string& plant : plants) {
    ASSERT_EQ(run_as_nobody(plant).exit_status, 0) << plant;
    const ProcessResult refused =
        list_tool({"pack", "-k", "S", "--wait", "1", top_.file("in.txt"), list});
    EXPECT_EQ(refused.exit_status, 1) << plant;
    EXPECT_NE(refused.err.find("(uid 65534)"), std::string::npos) << plant << ": " << refused.err;
    EXPECT_NE(refused.err.find("remove '.list.dat.lock'"), std::string::npos)
        << plant << ": " << refused.err;
    ASSERT_EQ(run_as_nobody("rm -f " + lock + " " + shared + "/mine").exit_status, 0);
  }
}

// A member of the list's group updates a root:group 0660 list: the list
// must stay root's (else removing the member from the group would no
// longer take their access away), and the lock root's too.
TEST_F(ListLock, AGroupMembersUpdateNeverTakesTheListOrTheLock) {
  ASSERT_EQ(::chown(dir_.c_str(), 0, kUsersGroup), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0770), 0);
  ASSERT_EQ(list_tool({"pack", "-k", "S", top_.file("in.txt"), list_}).exit_status, 0);
  ASSERT_EQ(::chown(list_.c_str(), 0, kUsersGroup), 0);
  ASSERT_EQ(::chmod(list_.c_str(), 0660), 0);
  // The member got in first and made the lock, theirs and open to all.
  ASSERT_EQ(::unlink(lock_.c_str()), 0);
  ASSERT_EQ(run_as_nobody("touch " + lock_ + " && chmod 666 " + lock_, {kUsersGroup}).exit_status,
            0);
  const Bytes before = read_file(list_);
  for (const char* command : {"add", "remove"}) {
    const ProcessResult member = adrvet_test::run_process(
        "/usr/bin/setpriv", {"--reuid", "65534", "--regid", "65534", "--groups", "100",
                             ADRVET_LIST_BINARY, command, "-k", "S", list_, "00:11:22:33:44:55"});
    EXPECT_EQ(member.exit_status, 1) << command << ": " << member.err;
    EXPECT_NE(member.err.find("uid 0"), std::string::npos) << member.err;
    EXPECT_EQ(status_of(list_).st_uid, 0U) << command << " made the member the list's owner";
    EXPECT_EQ(read_file(list_), before);
  }
  // Root's update takes the lock back for the list's owner and group.
  ASSERT_EQ(root_adds().exit_status, 0);
  const struct stat lock = status_of(lock_);
  EXPECT_EQ(lock.st_uid, 0U);
  EXPECT_EQ(lock.st_gid, kUsersGroup);
  EXPECT_EQ(lock.st_mode & 0777, 0660U);
  // Out of the group, the former member can no longer hold it.
  EXPECT_NE(run_as_nobody("flock -n " + lock_ + " true").exit_status, 0);
}

}  // namespace
