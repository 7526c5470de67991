// Hostile input bounded: check answers while its input still flows and
// holds no more than a line's start, pack and add hold what they keep
// rather than every line, a huge file of the wrong key is refused from
// its first block, digest streams, untrusted text never reaches the
// terminal raw, and the answer a message gives for ADRVET is ADRVET's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/list_tool_fixture.h"
#include "support/openssl_oracle.h"
#include "support/other_user.h"
#include "support/test_support.h"

namespace {

using adrvet_test::list_tool;
using adrvet_test::ProcessOptions;
using adrvet_test::ProcessResult;
using adrvet_test::run_process;
using adrvet_test::TempDir;
using adrvet_test::write_file;

// Runs `command` under /bin/sh, limited to `megabytes` of address space
// where the build allows a limit (not under sanitizers or valgrind).
ProcessResult run_bounded(const std::string& command, std::uint64_t megabytes) {
  ProcessOptions options;
  options.timeout_seconds = 120;
  if (!ADRVET_SANITIZED && !adrvet_test::wrapped_run()) {
    options.address_space_limit = megabytes << 20U;
  }
  return run_process("/bin/sh", {"-c", command}, options);
}

void make_sparse(const std::string& path, std::uint64_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  ::close(fd);
}

class HostileInput : public adrvet_test::ListToolTest {
 protected:
  void SetUp() override { pack(list_, "00:11:22:33:44:55\n"); }
  std::string list_ = file("list.dat");
};

// check answers each line as it comes: a program that writes lines and
// reads answers gets them while its input is still open.
TEST_F(HostileInput, CheckAnswersWhileItsInputIsStillOpen) {
  int in[2];
  int out[2];
  ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::execl(ADRVET_LIST_BINARY, ADRVET_LIST_BINARY, "check", "-k", "S", list_.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  constexpr int kLines = 20000;
  std::thread feeder([&] {
    std::string lines;
    for (int i = 0; i < kLines; ++i) {
      lines += i % 2 == 0 ? "00:11:22:33:44:55\n" : "00:11:22:33:44:56\n";
    }
    for (std::size_t done = 0; done < lines.size();) {
      const ssize_t n = ::write(in[1], lines.data() + done, lines.size() - done);
      if (n <= 0) {
        return;
      }
      done += static_cast<std::size_t>(n);
    }
  });
  feeder.join();
  // Every line has been written and the input is still open: the answers
  // must come now, not at its end.
  std::string answers;
  for (int waited = 0; answers.find('\n') == std::string::npos && waited < 600; ++waited) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      char chunk[65536];
      const ssize_t n = ::read(out[0], chunk, sizeof chunk);
      if (n <= 0) {
        break;
      }
      answers.append(chunk, static_cast<std::size_t>(n));
    }
  }
  EXPECT_EQ(answers.substr(0, 20), "00:11:22:33:44:55\t1\n") << "no answer before the input ended";
  ::close(in[1]);
  char chunk[65536];
  for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;) {
    answers.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(static_cast<int>(std::count(answers.begin(), answers.end(), '\n')), kLines);
}

// A line of half a gigabyte (a sparse file as input): check answers -8 for
// it with a short echo, and the lines around it as usual, in bounded memory.
TEST_F(HostileInput, CheckBoundsAHugeLineAndItsEcho) {
  const std::string input = dir_.file("huge.txt");
  make_sparse(input, std::uint64_t{512} << 20U);
  {
    const int fd = ::open(input.c_str(), O_WRONLY);
    const std::string first = "00:11:22:33:44:55\n";
    const std::string last = "\n00:11:22:33:44:56\n";
    ASSERT_EQ(::pwrite(fd, first.data(), first.size(), 0), static_cast<ssize_t>(first.size()));
    ASSERT_EQ(::pwrite(fd, last.data(), last.size(), (512 << 20) - 1),
              static_cast<ssize_t>(last.size()));
    ::close(fd);
  }
  const ProcessResult result =
      run_bounded("exec " ADRVET_LIST_BINARY " check -k S " + list_ + " < " + input, 256);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_LT(result.out.size(), 1000U);
  EXPECT_EQ(result.out.substr(0, 20), "00:11:22:33:44:55\t1\n");
  EXPECT_NE(result.out.find("\t-8\n00:11:22:33:44:56\t0\n"), std::string::npos)
      << result.out.substr(0, 300);
}

// pack - and add - with the same address millions of times: memory for
// what is kept, not 8 bytes for every line read.
TEST_F(HostileInput, PackAndAddKeepWhatTheyKeepNotEveryLine) {
  if (ADRVET_SANITIZED || adrvet_test::wrapped_run()) {
    GTEST_SKIP() << "the address-space limit does not apply under sanitizers or valgrind";
  }
  const std::string feed = "yes 00:11:22:33:44:77 | head -n 16000000 | exec " ADRVET_LIST_BINARY;
  const ProcessResult packed = run_bounded(feed + " pack -k S - " + dir_.file("out.dat"), 96);
  EXPECT_EQ(packed.exit_status, 0) << packed.err;
  EXPECT_NE(packed.err.find("wrote 1 address to " + dir_.file("out.dat") +
                            " (15999999 duplicates dropped)"),
            std::string::npos)
      << packed.err;
  const ProcessResult added = run_bounded(feed + " add -k S " + list_ + " -", 96);
  EXPECT_EQ(added.exit_status, 0) << added.err;
  EXPECT_EQ(list_tool({"check", "-k", "S", list_, "00:11:22:33:44:77"}).out,
            "00:11:22:33:44:77\t1\n");
}

// A file of nearly 4 GiB of zeros is a list under the wrong key: its first
// block says so, and nothing reads the rest.
TEST_F(HostileInput, TheWrongKeyIsToldFromTheFirstBlock) {
  const std::string zeros = dir_.file("zeros.dat");
  make_sparse(zeros, (std::uint64_t{4} << 30U) - 4096);
  const std::vector<std::string> commands = {
      "verify -k S " + zeros,
      "check -k S " + zeros + " 00:11:22:33:44:55",
      "export -k S " + zeros,
      "add -k S " + zeros + " 00:11:22:33:44:55",
      "remove -k S " + zeros + " 00:11:22:33:44:55",
  };
  for (const std::string& command : commands) {
    const ProcessResult result = run_bounded("exec " ADRVET_LIST_BINARY " " + command, 256);
    EXPECT_EQ(result.exit_status, 1) << command << ": " << result.err;
    EXPECT_NE(result.err.find("ADRVET would answer -3"), std::string::npos)
        << command << ": " << result.err;
  }
  struct stat status {};
  ASSERT_EQ(::stat(zeros.c_str(), &status), 0);
  EXPECT_LT(status.st_blocks, 64) << "the wrong-key file was written to";
}

// digest reads files to their end whatever their stated size (files in
// /proc say 0) and holds a piece, not the file.
TEST_F(HostileInput, DigestStreamsAndReadsProcFiles) {
  const std::string big = dir_.file("big.dat");
  make_sparse(big, std::uint64_t{600} << 20U);
  const std::vector<std::string> files = {"/proc/version", "/proc/sys/kernel/ostype", big};
  std::string names;
  for (const std::string& file : files) {
    names += " " + file;
  }
  const ProcessResult result = run_bounded("exec " ADRVET_LIST_BINARY " digest" + names, 256);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  std::string expected;
  for (const std::string& file : files) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (const unsigned char byte : adrvet_test::openssl_sha256_of_file(file)) {
      expected += kHex[byte >> 4U];
      expected += kHex[byte & 15U];
    }
    expected += "  " + file + "\n";
  }
  EXPECT_EQ(result.out, expected);
}

// Untrusted text that reaches standard error (paths, command names, option
// values) or check's echo on standard output: control bytes escaped.
TEST_F(HostileInput, EscapesNeverReachTheTerminalRaw) {
  const std::string evil =
      "\x1b]0;owned\x07\x1b[2J\x9b"
      "31m";
  struct Case {
    std::vector<std::string> args;
    std::string input;
  };
  const Case cases[] = {
      {{"verify", "-k", "S", dir_.file(evil)}, ""},
      {{"add", "-k", "S", dir_.file(evil), "00:11:22:33:44:55"}, ""},
      {{"digest", dir_.file("missing" + evil)}, ""},
      {{evil}, ""},
      {{"export", "-k", "S", "--format", evil, list_}, ""},
      {{"export", "-k", "S", "--name", evil, "--format", "nft", list_}, ""},
      {{"check", "-k", evil, list_}, ""},
      {{"check", "-k", "S", list_, evil}, ""},
      {{"check", "-k", "S", list_, "00:11:22:33:44:55" + evil}, ""},
      {{"check", "-k", "S", list_}, evil + "\n00:11:22:33:44:55\t" + evil + "\n"},
      {{"pack", "-k", "S", "-", dir_.file("out" + evil)}, "00:11:22:33:44:55\n"},
      {{"unpack", "-k", "S", list_, dir_.file("no/such/dir" + evil)}, ""},
  };
  for (const Case& c : cases) {
    const ProcessResult result = list_tool(c.args, c.input);
    const std::string both = result.out + result.err;
    EXPECT_NE(both.size(), 0U);
    for (const char raw : {'\x1b', '\x07', '\x9b'}) {
      EXPECT_EQ(both.find(raw), std::string::npos) << c.args[0] << ": " << both;
    }
    EXPECT_NE(both.find("\\x1b"), std::string::npos) << c.args[0] << ": " << both;
  }
  // digest's names on a terminal (through script(1)'s pseudo-terminal);
  // into a pipe they stay as sha256sum writes them.
  const std::string named = dir_.file(evil);
  write_file(named, std::string("x"));
  const ProcessResult shown = run_process(
      "/usr/bin/script", {"-qec", ADRVET_LIST_BINARY " digest '" + named + "'", "/dev/null"});
  EXPECT_EQ(shown.exit_status, 0) << shown.err;
  for (const char raw : {'\x1b', '\x07', '\x9b'}) {
    EXPECT_EQ(shown.out.find(raw), std::string::npos) << shown.out;
  }
  EXPECT_NE(shown.out.find("\\x1b]0;owned"), std::string::npos) << shown.out;
  const ProcessResult piped = list_tool({"digest", named});
  EXPECT_NE(piped.out.find(named), std::string::npos);
}

// What a message says ADRVET would answer is what ADRVET answers, for
// every kind of file at the list's place, read by the writers too; and a
// failure of adrvet-list's own (no descriptor left) claims no answer.
TEST(AnswersNamed, MessagesGiveTheAnswerADRVETGives) {
  TempDir dir;
  write_file(dir.file("in.txt"), std::string("00:11:22:33:44:55\n"));
  struct Case {
    const char* kind;
    std::string make;  // shell, in the list's directory
  };
  const std::string bin = ADRVET_LIST_BINARY;
  const Case cases[] = {
      {"socket", "python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind(\"engine.dat\")'"},
      {"fifo", "mkfifo engine.dat"},
      {"directory", "mkdir engine.dat"},
      {"empty", ": > engine.dat"},
      {"short", "printf 12345 > engine.dat"},
      {"wrong key", bin + " pack -k U ../in.txt engine.dat 2>/dev/null"},
      {"missing", "true"},
  };
  for (const Case& c : cases) {
    const std::string list_dir = dir.file(std::string("l-") + std::to_string(&c - cases));
    ASSERT_EQ(::mkdir(list_dir.c_str(), 0755), 0);
    const ProcessResult made = run_process("/bin/sh", {"-c", "cd " + list_dir + " && " + c.make});
    ASSERT_EQ(made.exit_status, 0) << c.kind << ": " << made.err;
    const ProcessResult adrvet = run_process(ADRVET_BINARY, {"S", list_dir, "00:11:22:33:44:55"});
    const int answer = static_cast<signed char>(adrvet.exit_status);
    const std::string said = "ADRVET would answer " + std::to_string(answer) + ":";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"verify", "-k", "S", list_dir},
          {"check", "-k", "S", list_dir, "00:11:22:33:44:55"},
          {"add", "-k", "S", list_dir, "00:11:22:33:44:55"},
          {"remove", "-k", "S", list_dir, "00:11:22:33:44:55"}}) {
      if (std::string(c.kind) == "missing" && args[0] == "add") {
        continue;  // add makes a missing list
      }
      const ProcessResult result = list_tool(args);
      EXPECT_EQ(result.exit_status, 1) << c.kind << ", " << args[0];
      // The readers always name the answer; a writer may refuse the file
      // for its own reasons, but any answer it names is ADRVET's.
      const bool reader = args[0] == "verify" || args[0] == "check";
      if (reader || result.err.find("ADRVET would answer") != std::string::npos) {
        EXPECT_NE(result.err.find(said), std::string::npos)
            << c.kind << ", " << args[0] << ": ADRVET gives " << answer << "; " << result.err;
      }
    }
  }
  // Too few descriptors is adrvet-list's own trouble, not the list's.
  const std::string list = dir.file("fine.dat");
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", list}, "00:11:22:33:44:55\n00:11:22:33:44:56\n")
                .exit_status,
            0);
  // The sanitizers' runtime needs descriptors of its own to read memory it
  // checks (a pipe per check): short of them it reports errors that are not
  // the program's, so the limit is tried only without it.
  if (ADRVET_SANITIZED) {
    GTEST_SKIP() << "too few descriptors: the sanitizers' own checks need them too";
  }
  // The limit that lets the program start but not open all it needs
  // depends on the descriptors the test runner leaves open: several are tried.
  for (const char* command : {"add", "remove"}) {
    int refused = 0;
    for (int limit = 4; limit <= 16; ++limit) {
      const ProcessResult result = run_process(
          "/bin/sh", {"-c", "ulimit -n " + std::to_string(limit) + "; exec " + bin + " " + command +
                                " -k S " + list + " 00:11:22:33:44:55"});
      if (result.exit_status == 0 || result.err.find("while loading shared") != std::string::npos) {
        continue;
      }
      ++refused;
      EXPECT_EQ(result.err.find("ADRVET would answer"), std::string::npos)
          << command << ", " << limit << " descriptors: " << result.err;
      EXPECT_NE(result.err.find("Too many open files"), std::string::npos)
          << command << ", " << limit << " descriptors: " << result.err;
    }
    EXPECT_GT(refused, 0) << command << ": no limit made it run short of descriptors";
  }
}

}  // namespace
