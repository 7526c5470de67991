// What a new administrator meets first, run as they would run it: list
// paths that do not exist yet, a forgotten LIST, a list emptied by mistake,
// the wrong key version, rekey. Each case is checked with ADRVET itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_test::contains;
using adrvet_test::file_exists;
using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::write_file;

constexpr char kListed[] = "52:54:00:12:34:56";

int adrvet(const std::string& key, const std::string& dir, const std::string& mac) {
  return adrvet_test::run_process(ADRVET_BINARY, {key, dir, mac}).exit_status;
}

bool is_directory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

class FirstUse : public adrvet_test::ListToolTest {
 protected:
  void pack(const std::string& dest, const std::string& key = "S") {
    ListToolTest::pack(dest, std::string(kListed) + "\n", key);
  }
};

// The README's first command on a machine without the directory used to
// write a file there, which ADRVET cannot read (-1 for every device).
TEST_F(FirstUse, ListPathThatDoesNotExistIsADirectoryAdrvetReads) {
  struct Case {
    const char* dest;       // under the test's directory
    const char* container;  // where the list must land
    bool directory;         // and ADRVET reads it through the directory
  };
  const std::vector<Case> cases = {
      {"adrvet", "adrvet/engine.dat", true},
      {"slash/", "slash/engine.dat", true},
      {"lists.d", "lists.d/engine.dat", true},
      {"named.dat", "named.dat", false},  // names a container file
      {"dir.dat/", "dir.dat/engine.dat", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dest);
    const auto result = list_tool({"pack", "-k", "S", "-", file(c.dest)}, "52:54:00:12:34:56\n");
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_TRUE(file_exists(file(c.container)));
    if (c.directory) {
      EXPECT_TRUE(is_directory(file(c.dest)));
      EXPECT_TRUE(contains(result.err, "created the list directory")) << result.err;
      EXPECT_EQ(adrvet("S", file(c.dest), kListed), 1);
      // verify, check and test answer for the path as ADRVET takes it.
      EXPECT_EQ(list_tool({"verify", "-k", "S", file(c.dest)}).out, "ok: 1 addresses\n");
      EXPECT_EQ(list_tool({"check", "-k", "S", file(c.dest), kListed}).out,
                std::string(kListed) + "\t1\n");
      EXPECT_EQ(list_tool({"test", "-k", "S", file(c.dest), kListed}).exit_status, 0);
    }
  }
}

TEST_F(FirstUse, ListDirectoryThatCannotBeMadeSaysWhy) {
  const auto result =
      list_tool({"pack", "-k", "S", "-", file("no/such/parent")}, "52:54:00:12:34:56\n");
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_TRUE(contains(result.err, "cannot create the list directory: No such file or directory"))
      << result.err;
}

// A reader given a directory that does not exist names the file ADRVET
// would look for, not "Is a directory".
TEST_F(FirstUse, MissingListNamesTheFileAdrvetWouldRead) {
  for (const std::string& list : {file("absent"), file("absent") + "/"}) {
    const auto result = list_tool({"verify", "-k", "S", list});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_TRUE(contains(result.err, file("absent") + "/engine.dat: ADRVET would answer -1"))
        << result.err;
    EXPECT_FALSE(contains(result.err, "Is a directory")) << result.err;
  }
}

TEST_F(FirstUse, AddMakesANewListOnlyWithCreate) {
  const std::string list = file("new");
  const auto refused = list_tool({"add", "-k", "S", list, kListed});
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_TRUE(contains(refused.err, "--create")) << refused.err;
  EXPECT_FALSE(file_exists(list));  // nor a lock file, nor a directory

  const auto created = list_tool({"add", "-k", "S", "--create", list, kListed});
  EXPECT_EQ(created.exit_status, 0) << created.err;
  EXPECT_EQ(adrvet("S", list, kListed), 1);
  // Once it exists, --create changes nothing.
  EXPECT_EQ(list_tool({"add", "-k", "S", "--create", list, "52:54:00:12:34:57"}).exit_status, 0);
  EXPECT_EQ(adrvet("S", list, "52:54:00:12:34:57"), 1);
}

// "adrvet-list add -k S MAC MAC", the list forgotten, made a list named
// after the first address in the current directory.
TEST_F(FirstUse, ListThatReadsAsAnAddressIsRefused) {
  for (const char* first : {"00:11:22:33:44:55", "00-11-22-33-44-55", "0011.2233.4455"}) {
    SCOPED_TRACE(first);
    const auto result = adrvet_test::run_process(
        "/bin/bash", {"-c", "cd \"$1\" && \"$0\" add -k S --create \"$2\" 00:11:22:33:44:66",
                      ADRVET_LIST_BINARY, dir_.path(), first});
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_TRUE(contains(result.err, "reads as an address")) << result.err;
    EXPECT_TRUE(adrvet_test::list_directory(dir_.path()).empty());
  }
}

TEST_F(FirstUse, EveryWriterNeedsAllowEmptyToLeaveNoAddress) {
  const std::string list = file("list");
  pack(list);
  struct Case {
    std::vector<std::string> args;
    std::string input;
  };
  const std::vector<Case> cases = {
      {{"remove", "-k", "S", list, kListed}, ""},
      {{"remove", "-k", "S", list, "-"}, std::string(kListed) + "\n"},
      {{"add", "-k", "S", "--create", file("empty"), "-"}, "# nobody yet\n"},
      {{"pack", "-k", "S", "-", list}, "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const auto refused = list_tool(c.args, c.input);
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_TRUE(contains(refused.err, "--allow-empty")) << refused.err;
    EXPECT_EQ(adrvet("S", list, kListed), 1);  // the list is as it was
    EXPECT_FALSE(file_exists(file("empty/engine.dat")));
  }
  const auto emptied = list_tool({"remove", "-k", "S", "--allow-empty", list, kListed});
  EXPECT_EQ(emptied.exit_status, 0) << emptied.err;
  EXPECT_EQ(adrvet("S", list, kListed), 0);
  // Removing from a list that is empty already writes nothing new.
  EXPECT_EQ(list_tool({"remove", "-k", "S", list, kListed}).exit_status, 0);
}

TEST_F(FirstUse, WrongKeyVersionSaysWhichOneOpensTheList) {
  const std::string list = file("list");
  pack(list, "U");
  const std::vector<std::vector<std::string>> commands = {
      {"verify", "-k", "S", list},        {"check", "-k", "S", list, kListed},
      {"test", "-k", "S", list, kListed}, {"add", "-k", "S", list, "52:54:00:12:34:57"},
      {"export", "-k", "S", list},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    const auto result = list_tool(args);
    EXPECT_NE(result.exit_status, 0);
    EXPECT_TRUE(contains(result.err, "opens with -k U")) << result.err;
  }
  // A file that is no list under either key gets no such hint.
  write_file(file("junk.dat"), std::string(64, 'x'));
  const auto junk = list_tool({"verify", "-k", "S", file("junk.dat")});
  EXPECT_FALSE(contains(junk.err, "opens with")) << junk.err;
}

TEST_F(FirstUse, RekeySaysWhatItDidAndRefusesTheSameVersion) {
  const std::string list = file("list");
  pack(list);
  const auto same = list_tool({"rekey", "-k", "S", "--to", "S", list});
  EXPECT_EQ(same.exit_status, 2);
  EXPECT_TRUE(contains(same.err, "under key version S already")) << same.err;
  EXPECT_EQ(adrvet("S", list, kListed), 1);

  const auto moved = list_tool({"rekey", "-k", "S", "--to", "U", list});
  EXPECT_EQ(moved.exit_status, 0) << moved.err;
  EXPECT_TRUE(contains(moved.err, "rewritten under key version U (was S)")) << moved.err;
  EXPECT_EQ(adrvet("U", list, kListed), 1);

  // To a new list directory, as pack makes one.
  const auto copied = list_tool({"rekey", "-k", "U", "--to", "S", list, file("copy")});
  EXPECT_EQ(copied.exit_status, 0) << copied.err;
  EXPECT_EQ(adrvet("S", file("copy"), kListed), 1);
}

TEST_F(FirstUse, MistypesGetADidYouMeanAndHelpCmdIsCmdHelp) {
  struct Case {
    std::vector<std::string> args;
    const char* said;  // on standard error; "" for no suggestion
  };
  const std::vector<Case> cases = {
      {{"pakc"}, "unknown command 'pakc'; did you mean 'pack'?"},
      {{"verfiy", "-k", "S", "x"}, "did you mean 'verify'?"},
      {{"tset"}, "did you mean 'test'?"},
      {{"help", "expor"}, "help: unknown command 'expor'; did you mean 'export'?"},
      {{"pack", "-k", "S", "--quite", "-", "x"},
       "unknown option '--quite'; did you mean '--quiet'?"},
      {{"add", "-k", "S", "--craete", "x", "y"}, "did you mean '--create'?"},
      {{"frobnicate"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const auto result = list_tool(c.args);
    EXPECT_EQ(result.exit_status, 2);
    if (*c.said != '\0') {
      EXPECT_TRUE(contains(result.err, c.said)) << result.err;
    } else {
      EXPECT_FALSE(contains(result.err, "did you mean")) << result.err;
    }
  }
  for (const char* command : {"pack", "test", "digest"}) {
    const auto help = list_tool({"help", command});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_EQ(help.out, list_tool({command, "--help"}).out);
    EXPECT_TRUE(contains(help.out, std::string("adrvet-list ") + command)) << help.out;
  }
}

}  // namespace
