// adrvet-list's guards against lost data: lists cut short, outputs that
// are the input, empty packs, hostile or huge input lines, and the modes
// of new files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::read_file;
using adrvet_test::TempDir;
using adrvet_test::write_file;

std::string hundred_addresses() {
  std::string text;
  for (int i = 0; i < 100; ++i) {
    text += adrvet_test::colon_address(0x001122334400ULL + static_cast<unsigned>(i)) + "\n";
  }
  return text;
}

class ListSafety : public adrvet_test::ListToolTest {
 protected:
  std::string list_ = file("list.dat");
  void SetUp() override { pack(list_, hundred_addresses()); }
};

TEST_F(ListSafety, ListsCutShortAreReportedAndNotRewrittenWithoutForce) {
  // 12 + 18 * 100 bytes of header and text, padded to 1824. Cuts that leave
  // whole entries open as shorter lists, one of them of whole blocks (only
  // its pad, list text now, tells); a cut inside an entry does not decode.
  const auto whole = read_file(list_);
  // The pad count is 12: a cut at 24 + 18k bytes leaves k whole entries.
  for (const std::size_t length : {std::size_t{96}, std::size_t{24 + 18 * 50}, std::size_t{1000}}) {
    const std::string cut = file("cut" + std::to_string(length));
    write_file(cut, adrvet_test::Bytes(whole.begin(), whole.begin() + static_cast<long>(length)));
    const ProcessResult verified = list_tool({"verify", "-k", "S", cut});
    EXPECT_EQ(verified.exit_status, 1) << length;
    EXPECT_NE(verified.err.find(length == 1000 ? "ADRVET would answer -4" : "looks truncated"),
              std::string::npos)
        << verified.err;
    EXPECT_EQ(verified.out, "");
    for (const std::vector<std::string>& rewrite :
         {std::vector<std::string>{"add", "-k", "S", cut, "00:11:22:33:55:00"},
          {"remove", "-k", "S", cut, "00:11:22:33:44:00"},
          {"rekey", "-k", "S", "--to", "U", cut}}) {
      const ProcessResult refused = list_tool(rewrite);
      EXPECT_EQ(refused.exit_status, 1) << rewrite[0] << " " << length << ": " << refused.err;
      if (length != 1000) {
        EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
      }
      EXPECT_EQ(read_file(cut),
                adrvet_test::Bytes(whole.begin(), whole.begin() + static_cast<long>(length)));
    }
    // ADRVET itself keeps its answers for such a file; adrvet-list --force repairs it.
    const ProcessResult forced = list_tool({"add", "-k", "S", "--force", cut, "00:11:22:33:55:00"});
    if (length == 1000) {
      EXPECT_EQ(forced.exit_status, 1) << "a cut inside an entry does not decode";
    } else {
      EXPECT_EQ(forced.exit_status, 0) << forced.err;
      EXPECT_EQ(list_tool({"verify", "-k", "S", cut}).exit_status, 0);
    }
  }
  EXPECT_EQ(list_tool({"verify", "-k", "S", list_}).out, "ok: 100 addresses\n");
}

TEST_F(ListSafety, OutputsThatAreTheInputAreRefused) {
  ASSERT_EQ(::symlink(list_.c_str(), file("link").c_str()), 0);
  const auto before = read_file(list_);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"unpack", "-k", "S", list_, list_},
        {"unpack", "-k", "S", list_, file("link")},
        {"rekey", "-k", "S", "--to", "U", list_, file("link")}}) {
    const ProcessResult result = list_tool(args);
    EXPECT_EQ(result.exit_status, 2) << args[0] << ": " << result.err;
    EXPECT_EQ(read_file(list_), before) << args[0];
  }
}

TEST_F(ListSafety, AnEmptyPackNeedsAllowEmpty) {
  const ProcessResult refused = list_tool({"pack", "-k", "S", "-", file("new.dat")}, "# none\n\n");
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find("no addresses"), std::string::npos) << refused.err;
  EXPECT_FALSE(adrvet_test::file_exists(file("new.dat")));
  const auto before = read_file(list_);
  EXPECT_EQ(list_tool({"pack", "-k", "S", "-", list_}, "").exit_status, 1);
  EXPECT_EQ(read_file(list_), before) << "an empty input replaced the list";
  EXPECT_EQ(list_tool({"pack", "-k", "S", "--allow-empty", "-", list_}, "").exit_status, 0);
  EXPECT_EQ(list_tool({"verify", "-k", "S", list_}).out, "ok: 0 addresses\n");
}

TEST_F(ListSafety, AddAndRemoveTakeAddressesFromStandardInputInOneUpdate) {
  std::string input = "# from a provisioning hook\n";
  for (int i = 0; i < 1000; ++i) {
    input += adrvet_test::colon_address(0x0a0000000000ULL + static_cast<unsigned>(i)) + "\n";
  }
  ProcessResult added = list_tool({"add", "-k", "S", list_, "-"}, input);
  EXPECT_EQ(added.exit_status, 0) << added.err;
  EXPECT_NE(added.err.find("added 1000 addresses"), std::string::npos) << added.err;
  EXPECT_EQ(list_tool({"verify", "-k", "S", list_}).out, "ok: 1100 addresses\n");
  const ProcessResult bad = list_tool({"remove", "-k", "S", list_, "-"}, "0a:00:00:00:00:01\nzz\n");
  EXPECT_EQ(bad.exit_status, 1);
  EXPECT_NE(bad.err.find("adrvet-list: -:2: "), std::string::npos) << bad.err;
  EXPECT_EQ(list_tool({"remove", "-k", "S", list_, "-"}, input).exit_status, 0);
  EXPECT_EQ(list_tool({"verify", "-k", "S", list_}).out, "ok: 100 addresses\n");
}

TEST_F(ListSafety, NewFilesArePrivateUnlessModeSaysOtherwise) {
  struct Case {
    std::vector<std::string> args;
    std::string made;
    unsigned mode;
  };
  write_file(file("in.txt"), std::string("00:11:22:33:44:55\n"));
  const std::string in = file("in.txt");
  const Case cases[] = {
      {{"pack", "-k", "S", in, file("a.dat")}, file("a.dat"), 0600},
      {{"pack", "-k", "S", "--mode", "640", in, file("b.dat")}, file("b.dat"), 0640},
      {{"add", "-k", "S", "--create", "--mode", "0644", file("c.dat"), "00:11:22:33:44:55"},
       file("c.dat"),
       0644},
      {{"unpack", "-k", "S", list_, file("plain.txt")}, file("plain.txt"), 0600},
  };
  ::umask(022);
  for (const Case& c : cases) {
    ASSERT_EQ(list_tool(c.args).exit_status, 0) << c.args[0];
    struct stat status {};
    ASSERT_EQ(::stat(c.made.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, c.mode) << c.made;
  }
  // An existing list keeps its mode unless --mode says otherwise.
  ASSERT_EQ(::chmod(file("b.dat").c_str(), 0604), 0);
  ASSERT_EQ(list_tool({"pack", "-k", "S", in, file("b.dat")}).exit_status, 0);
  struct stat status {};
  ASSERT_EQ(::stat(file("b.dat").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0604U);
  ASSERT_EQ(list_tool({"pack", "-k", "S", "--mode", "600", in, file("b.dat")}).exit_status, 0);
  ASSERT_EQ(::stat(file("b.dat").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600U);
  for (const char* bad : {"999", "1777", "rw", ""}) {
    EXPECT_EQ(list_tool({"pack", "-k", "S", "--mode", bad, in, file("d.dat")}).exit_status, 2)
        << bad;
  }
  for (const char* bad : {"-1", "soon", "1e9", ""}) {
    EXPECT_EQ(list_tool({"add", "-k", "S", "--wait", bad, list_, "00:11:22:33:44:55"}).exit_status,
              2)
        << bad;
  }
}

TEST_F(ListSafety, BadLinesAreQuotedShortAndEscaped) {
  std::string input = "00:11:22:33:44:55\n";
  input += "zz\x1b[31mred\x07\x01" + std::string(1, '\0') + "\tend\n";
  input += std::string(5000, 'x') + "\n";
  input += std::string(5000, ' ') + "00:11:22:33:44:66\n";  // cut before its address
  const ProcessResult result = list_tool({"pack", "-k", "S", "-", file("x.dat")}, input);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << "raw escape reached the terminal";
  EXPECT_EQ(result.err.find('\0'), std::string::npos);
  EXPECT_NE(
      result.err.find("-:2: not a hex digit or separator: 'zz\\x1b[31mred\\x07\\x01\\0\\tend'"),
      std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("-:3: line too long: 'xxxx"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("...' (5000 bytes)"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("-:4: line too long"), std::string::npos) << result.err;
  EXPECT_LT(result.err.size(), 1000U);
}

// Lines of a gigabyte and of more than 2^31 bytes, as a sparse file: a
// short message with the line number, and memory that stays bounded.
TEST(LargeList, HugeLinesGiveAShortMessageInBoundedMemory) {
  TempDir dir;
  for (const std::uint64_t length : {std::uint64_t{1} << 30, std::uint64_t{2200000000}}) {
    const std::string input = dir.file("huge.txt");
    {
      const int fd = ::open(input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ASSERT_GE(fd, 0);
      const std::string first = "00:11:22:33:44:55\n";
      ASSERT_EQ(::write(fd, first.data(), first.size()), static_cast<ssize_t>(first.size()));
      const std::string last = "\n00:11:22:33:44:66\n";
      const auto at = static_cast<off_t>(first.size() + length);
      ASSERT_EQ(::pwrite(fd, last.data(), last.size(), at), static_cast<ssize_t>(last.size()));
      ::close(fd);
    }
    adrvet_test::ProcessOptions options;
    options.timeout_seconds = 120;
    if (!ADRVET_SANITIZED && !adrvet_test::wrapped_run()) {
      options.address_space_limit = std::uint64_t{256} << 20;
    }
    const ProcessResult result = adrvet_test::run_process(
        ADRVET_LIST_BINARY, {"pack", "-k", "S", input, dir.file("out.dat")}, options);
    EXPECT_EQ(result.exit_status, 1) << result.err;
    EXPECT_NE(result.err.find(input + ":2: line too long: '\\0\\0"), std::string::npos)
        << result.err.substr(0, 500);
    EXPECT_NE(result.err.find("(" + std::to_string(length) + " bytes)"), std::string::npos)
        << result.err.substr(0, 500);
    EXPECT_LT(result.err.size(), 1000U);
    ::unlink(input.c_str());
  }
}

}  // namespace
