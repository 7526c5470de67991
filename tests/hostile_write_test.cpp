// Root's writes where another user (uid 65534) can plant names: a file or
// FIFO at the target's name, a link or a swapped directory anywhere above
// it, the list itself as an export's output, and writers stopped by a
// signal. Whatever was planted stays as it was, nothing outside the
// target changes, nothing hangs, and the refusal says why.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/list_tool_fixture.h"
#include "support/other_user.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Background;
using adrvet_test::Bytes;
using adrvet_test::kNobody;
using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::read_file;
using adrvet_test::run_as_nobody;
using adrvet_test::TempDir;
using adrvet_test::write_file;

struct stat status_of(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) {
    status.st_nlink = 0;  // marks "missing"
  }
  return status;
}

bool exists(const std::string& path) { return status_of(path).st_nlink != 0; }

// A scratch tree root owns, with a directory in it that uid 65534 can
// write: sticky and world-writable like /tmp, or the attacker's own.
class PlantedTarget : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) {
      GTEST_SKIP() << "needs root, to be attacked by another user";
    }
    ::chmod(top_.path().c_str(), 0755);
    ASSERT_EQ(::mkdir(shared_.c_str(), 0755), 0);
    if (std::string(GetParam()) == "sticky") {
      ASSERT_EQ(::chmod(shared_.c_str(), 01777), 0);
    } else {
      ASSERT_EQ(::chown(shared_.c_str(), kNobody, kNobody), 0);
    }
    write_file(input_, std::string("00:11:22:33:44:55\n"));
    ASSERT_EQ(list_tool({"pack", "-k", "S", input_, list_}).exit_status, 0);
  }

  TempDir top_;
  std::string shared_ = top_.file("shared");
  std::string input_ = top_.file("input.txt");
  std::string list_ = top_.file("root.dat");  // root's own list, in root's directory
};

// A regular file that 65534 created at the name root writes: root's data
// would become theirs (owner and 0666 kept), or theirs would be kept.
TEST_P(PlantedTarget, AnotherUsersFileAtTheNameIsRefusedAndLeftAsItWas) {
  struct Case {
    std::string name;
    std::string plant;  // run as 65534, umask 0
    std::vector<std::string> root_runs;
  };
  const std::string at = shared_ + "/";
  const Case cases[] = {
      {"list.dat", "touch " + at + "list.dat", {"pack", "-k", "S", input_, at + "list.dat"}},
      {"out.txt",
       "touch " + at + "out.txt",
       {"export", "-k", "S", "--output", at + "out.txt", list_}},
      {"plain.txt", "touch " + at + "plain.txt", {"unpack", "-k", "S", list_, at + "plain.txt"}},
      // A valid list holding the attacker's device: root's add must not
      // keep it (nor call it an existing list).
      {"engine.dat",
       "echo 66:66:66:66:66:66 | " ADRVET_LIST_BINARY " pack -k S - " + at + "engine.dat",
       {"add", "-k", "S", at + "engine.dat", "00:11:22:33:44:55"}},
      {"engine.dat",
       "echo 66:66:66:66:66:66 | " ADRVET_LIST_BINARY " pack -k S - " + at + "engine.dat",
       {"remove", "-k", "S", "--force", at + "engine.dat", "66:66:66:66:66:66"}},
  };
  for (const Case& c : cases) {
    const std::string path = at + c.name;
    const ProcessResult planted = run_as_nobody(c.plant + " && chmod 666 " + path);
    ASSERT_EQ(planted.exit_status, 0) << c.plant << ": " << planted.err;
    const Bytes before = read_file(path);
    const ProcessResult result = list_tool(c.root_runs);
    EXPECT_EQ(result.exit_status, 1) << c.name << ": " << result.err;
    EXPECT_NE(result.err.find("owned by another user (uid 65534)"), std::string::npos)
        << c.name << ": " << result.err;
    const struct stat after = status_of(path);
    EXPECT_EQ(after.st_uid, kNobody) << c.name;
    EXPECT_EQ(read_file(path), before) << c.name << ": root's data went into the planted file";
    EXPECT_TRUE(adrvet_test::temporary_files(shared_).empty()) << c.name;
    ASSERT_EQ(run_as_nobody("rm -f " + path + " " + at + ".*.lock").exit_status, 0);
  }
  // Once the planted names are gone root's writes go through, as root's.
  const ProcessResult packed = list_tool({"pack", "-k", "S", input_, at + "list.dat"});
  EXPECT_EQ(packed.exit_status, 0) << packed.err;
  EXPECT_EQ(status_of(at + "list.dat").st_uid, 0U);
}

// A FIFO at the name: a reader would receive the list or its plaintext,
// and a holder that never reads would keep root waiting for ever.
TEST_P(PlantedTarget, AnotherUsersFifoAtTheNameIsNeitherFedNorWaitedOn) {
  const std::string fifo = shared_ + "/out.txt";
  const std::string captured = shared_ + "/captured";
  const std::vector<std::vector<std::string>> writes = {
      {"export", "-k", "S", "--output", fifo, list_},
      {"unpack", "-k", "S", list_, fifo},
      {"pack", "-k", "S", input_, fifo},
  };
  for (const bool reads : {true, false}) {
    ASSERT_EQ(run_as_nobody("mkfifo " + fifo).exit_status, 0);
    // The reader copies what arrives; the holder opens the FIFO for
    // reading and writing (so root's open finds a reader) and never reads.
    Background attacker(reads ? "touch " + shared_ + "/ready; exec cat " + fifo + " > " + captured
                              : "exec 3<>" + fifo + "; touch " + shared_ + "/ready; exec sleep 60",
                        shared_ + "/ready");
    ASSERT_TRUE(attacker.ready());
    for (const auto& write : writes) {
      const ProcessResult result = list_tool(write);
      EXPECT_FALSE(result.timed_out) << write[0] << " waited on another user's FIFO";
      EXPECT_EQ(result.exit_status, 1) << write[0] << ": " << result.err;
      EXPECT_NE(result.err.find("owned by another user (uid 65534)"), std::string::npos)
          << result.err;
    }
    attacker.stop();
    if (reads) {
      EXPECT_EQ(read_file(captured).size(), 0U) << "another user's FIFO received root's data";
    }
    ASSERT_EQ(
        run_as_nobody("rm -f " + fifo + " " + captured + " " + shared_ + "/ready").exit_status, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PlantedTarget, ::testing::Values("sticky", "attacker_owned"));

// Links and directories above the target. 65534 owns a directory on the
// way (as a user owns their home) and turns a component below it into a
// link to root's directories, or moves root's directories around.
TEST(PathAbove, AComponentAnotherUserControlsCannotRedirectTheWrite) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root, to be attacked by another user";
  }
  struct Case {
    const char* what;
    std::string attack;  // run as 65534 in HOME
    std::string target;  // relative to HOME
  };
  const Case cases[] = {
      {"a link two levels up", "mv exports exports.old && ln -s ../etc exports",
       "exports/hostapd/adrvet.accept"},
      {"a link three levels up", "mv exports exports.old && ln -s ../etc exports",
       "exports/hostapd/deep/adrvet.accept"},
      {"a link at the last directory",
       "mv exports/hostapd h.old && ln -s ../../etc/hostapd exports/hostapd",
       "exports/hostapd/adrvet.accept"},
      {"a link to a link", "ln -s ../etc e2 && mv exports exports.old && ln -s e2 exports",
       "exports/hostapd/adrvet.accept"},
      {"root's directory moved in its place", "mv exports exports.old && mv rootdir exports",
       "exports/hostapd/adrvet.accept"},
  };
  for (const Case& c : cases) {
    TempDir top;
    ::chmod(top.path().c_str(), 0755);
    const std::string home = top.file("home");
    const std::string etc = top.file("etc");
    ASSERT_EQ(::mkdir(home.c_str(), 0755), 0);
    ASSERT_EQ(::chown(home.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(run_as_nobody("cd " + home + " && mkdir -p exports/hostapd/deep").exit_status, 0);
    // Root's own directories: the real /etc/hostapd, and one root keeps
    // in the user's home.
    ASSERT_EQ(::mkdir(etc.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((etc + "/hostapd").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((etc + "/hostapd/deep").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((home + "/rootdir").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((home + "/rootdir/hostapd").c_str(), 0755), 0);
    write_file(top.file("in.txt"), std::string("00:11:22:33:44:55\n"));
    ASSERT_EQ(list_tool({"pack", "-k", "S", top.file("in.txt"), top.file("list.dat")}).exit_status,
              0);

    const ProcessResult attacked = run_as_nobody("cd " + home + " && " + c.attack);
    ASSERT_EQ(attacked.exit_status, 0) << c.what << ": " << attacked.err;
    const std::string target = home + "/" + c.target;
    const std::vector<std::vector<std::string>> writes = {
        {"export", "-k", "S", "--format", "hostapd", "--output", target, top.file("list.dat")},
        {"pack", "-k", "S", top.file("in.txt"), target},
        {"unpack", "-k", "S", top.file("list.dat"), target},
    };
    for (const auto& write : writes) {
      const ProcessResult result = list_tool(write);
      EXPECT_EQ(result.exit_status, 1) << c.what << ", " << write[0] << ": " << result.err;
      EXPECT_NE(result.err.find("uid 65534"), std::string::npos) << c.what << ": " << result.err;
    }
    for (const char* root_file : {"/hostapd/adrvet.accept", "/hostapd/deep/adrvet.accept"}) {
      EXPECT_FALSE(exists(etc + root_file)) << c.what << ": root's write landed in " << root_file;
    }
    EXPECT_FALSE(exists(home + "/exports/hostapd/adrvet.accept")) << c.what;
    EXPECT_TRUE(adrvet_test::list_directory(etc + "/hostapd").size() <= 1) << c.what;
  }
}

// The swap loop: with the kernel's link protection off, 65534 exchanges
// their own directory and their own link to root's directory, over and
// over, while root keeps adding to the list in the directory.
TEST(PathAbove, ASwapLoopOfDirectoryAndLinkNeverRedirectsRootsAdds) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root, to change kernel settings and be attacked";
  }
  const adrvet_test::KernelSetting links("protected_symlinks", "0");
  if (!links.applied()) {
    GTEST_SKIP() << "cannot turn fs.protected_symlinks off here";
  }
  TempDir top;
  ::chmod(top.path().c_str(), 0755);
  const std::string shared = top.file("shared");
  const std::string other = top.file("other");  // root's other list lives in other/lists
  ASSERT_EQ(::mkdir(shared.c_str(), 01777), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(::mkdir(other.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((other + "/lists").c_str(), 0755), 0);
  write_file(top.file("in.txt"), std::string("00:11:22:33:44:55\n"));
  const std::string others_list = other + "/lists/engine.dat";
  ASSERT_EQ(list_tool({"pack", "-k", "S", top.file("in.txt"), others_list}).exit_status, 0);
  const Bytes others_before = read_file(others_list);
  ASSERT_EQ(
      run_as_nobody("cd " + shared + " && mkdir -p u/lists && ln -s " + other + " v").exit_status,
      0);
  const std::string list = shared + "/u/lists/engine.dat";
  ASSERT_EQ(list_tool({"pack", "-k", "S", top.file("in.txt"), list}).exit_status, 0);

  const pid_t swapper = ::fork();
  if (swapper == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(1);
    }
    const std::string u = shared + "/u";
    const std::string v = shared + "/v";
    for (;;) {
      ::renameat2(AT_FDCWD, u.c_str(), AT_FDCWD, v.c_str(), RENAME_EXCHANGE);
    }
  }
  int added = 0;
  for (int i = 0; i < 200; ++i) {
    char address[32];
    (void)std::snprintf(address, sizeof address, "00:11:22:33:%02x:%02x", i / 256, i % 256);
    const ProcessResult result = list_tool({"add", "-k", "S", "--wait", "5", list, address});
    EXPECT_FALSE(result.timed_out);
    added += result.exit_status == 0 ? 1 : 0;
  }
  ::kill(swapper, SIGKILL);
  ::waitpid(swapper, nullptr, 0);
  EXPECT_EQ(read_file(others_list), others_before) << "root's adds went into another list";
  EXPECT_TRUE(adrvet_test::temporary_files(other + "/lists").empty());
  EXPECT_GT(added, 0) << "no add got through at all";
}

// export --output naming the list itself, directly, as its directory's
// engine.dat or through a link: refused, and the list stays a list.
TEST(ExportOutput, TheListItselfIsRefused) {
  TempDir dir;
  const std::string list_dir = dir.file("l");
  ASSERT_EQ(::mkdir(list_dir.c_str(), 0755), 0);
  const std::string list = list_dir + "/engine.dat";
  write_file(dir.file("in.txt"), std::string("00:11:22:33:44:55\n"));
  ASSERT_EQ(list_tool({"pack", "-k", "S", dir.file("in.txt"), list}).exit_status, 0);
  ASSERT_EQ(::symlink(list.c_str(), dir.file("link").c_str()), 0);
  const Bytes before = read_file(list);
  struct Case {
    std::string output;
    std::string list_argument;
  };
  const Case cases[] = {{list, list_dir},
                        {list, list},
                        {dir.file("link"), list_dir},
                        {list_dir + "/./engine.dat", list_dir + "/"}};
  for (const Case& c : cases) {
    for (const char* format : {"plain", "hostapd"}) {
      const ProcessResult result = list_tool(
          {"export", "-k", "S", "--format", format, "--output", c.output, c.list_argument});
      EXPECT_EQ(result.exit_status, 2) << c.output << " " << c.list_argument << ": " << result.err;
      EXPECT_NE(result.err.find("is LIST itself"), std::string::npos) << result.err;
      EXPECT_EQ(read_file(list), before);
    }
  }
  const ProcessResult check =
      adrvet_test::run_process(ADRVET_BINARY, {"S", list_dir, "00:11:22:33:44:55"});
  EXPECT_EQ(check.exit_status, 1);
}

// export --output and unpack OUTPUT stopped by a signal at a random moment
// of their write: SIGTERM and SIGINT leave no temporary at all; after
// SIGKILL the next write of the same output removes what was left.
TEST(StoppedWriters, NoTemporaryOutlivesTheNextRun) {
  TempDir dir;
  std::string text;
  for (unsigned i = 0; i < 400000; ++i) {
    text += adrvet_test::colon_address(0x020000000000ULL + i * 7ULL) + "\n";
  }
  const std::string list = dir.file("list.dat");
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", list}, text).exit_status, 0);
  const std::string out_dir = dir.file("out");
  ASSERT_EQ(::mkdir(out_dir.c_str(), 0755), 0);
  std::mt19937_64 rng(adrvet_test::test_seed());
  const std::vector<std::vector<std::string>> writes = {
      {"export", "-k", "S", "--format", "nft", "--output", out_dir + "/set.nft", list},
      {"unpack", "-k", "S", list, out_dir + "/plain.txt"},
  };
  int interrupted = 0;
  for (const int signal_number : {SIGTERM, SIGINT, SIGKILL}) {
    for (int round = 0; round < 12; ++round) {
      const auto& write = writes[static_cast<std::size_t>(round) % writes.size()];
      std::vector<char*> argv;
      std::vector<std::string> words = {ADRVET_LIST_BINARY};
      words.insert(words.end(), write.begin(), write.end());
      for (std::string& word : words) {
        argv.push_back(word.data());
      }
      argv.push_back(nullptr);
      const pid_t pid = ::fork();
      if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 60000));
      ::kill(pid, signal_number);
      int status = 0;
      ::waitpid(pid, &status, 0);
      interrupted += WIFSIGNALED(status) ? 1 : 0;
      if (signal_number != SIGKILL) {
        EXPECT_TRUE(adrvet_test::temporary_files(out_dir).empty())
            << strsignal(signal_number) << " left a temporary";
      }
    }
    if (signal_number == SIGKILL) {
      for (const auto& write : writes) {
        ASSERT_EQ(list_tool(write).exit_status, 0);
      }
      EXPECT_TRUE(adrvet_test::temporary_files(out_dir).empty())
          << "the next run left the temporaries of killed writers";
    }
  }
  EXPECT_GT(interrupted, 0) << "no signal arrived during a write: the test proved nothing";
}

}  // namespace
