// `adrvet-list test` as scripts use it: exit 0 listed, 1 not listed, 2
// undecided, for every answer ADRVET can give, checked against ADRVET
// itself run on the same arguments; and the shell idiom it exists for.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/key_versions.h"
#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::write_file;

int adrvet(const std::vector<std::string>& args) {
  return adrvet_test::run_process(ADRVET_BINARY, args).exit_status;
}

// What `test` must answer for ADRVET's exit status.
int test_status_for(int adrvet_status) {
  switch (adrvet_status) {
    case 1:
      return 0;
    case 0:
      return 1;
    default:
      return 2;
  }
}

class TestCommand : public adrvet_test::ListToolTest {
 protected:
  void SetUp() override {
    ::mkdir(dir_.file("list").c_str(), 0755);
    ASSERT_NO_FATAL_FAILURE(pack(list(), "52:54:00:12:34:56\n00:1a:2b:3c:4d:5e\n"));
    ::mkdir(dir_.file("damaged").c_str(), 0755);
    write_file(dir_.file("damaged.txt"), "00:1a:2b:3c:4d\n");  // ten digits: -4
    ASSERT_TRUE(orbitforge::util::encrypt_file(dir_.file("damaged.txt").c_str(),
                                               dir_.file("damaged/engine.dat").c_str(),
                                               orbitforge::util::key_for_version(1)));
  }
  std::string list() const { return dir_.file("list"); }
};

TEST_F(TestCommand, ExitStatusFollowsAdrvetsAnswerForEveryOutcome) {
  struct Case {
    const char* what;
    std::string key, list, mac;
    int expected;        // test's exit status
    const char* reason;  // in its message, for status 2
  };
  const std::string long_mac(64, 'a');
  const std::vector<Case> cases = {
      {"listed", "S", list(), "52:54:00:12:34:56", 0, ""},
      {"listed, other notation", "S", list(), "52-54-00-12-34-56", 0, ""},
      {"listed, trailing slash", "S", list() + "/", "00:1a:2b:3c:4d:5e", 0, ""},
      {"not listed", "S", list(), "52:54:00:12:34:57", 1, ""},
      {"wrong key version", "U", list(), "52:54:00:12:34:56", 2, "opens with -k S"},
      {"missing directory", "S", dir_.file("absent"), "52:54:00:12:34:56", 2, "answers -1"},
      {"container file, not its directory", "S", list() + "/engine.dat", "52:54:00:12:34:56", 2,
       "not a file"},
      {"damaged list", "S", dir_.file("damaged"), "52:54:00:12:34:56", 2, "answers -4"},
      {"dotted notation", "S", list(), "5254.0012.3456", 2, "answers -6"},
      {"not hex", "S", list(), "52:54:00:12:34:5g", 2, "answers -7"},
      {"empty address", "S", list(), "", 2, "answers"},
      {"address longer than ADRVET takes", "S", list(), long_mac, 2, "answers -8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ProcessResult result = list_tool({"test", "-k", c.key, c.list, c.mac});
    EXPECT_EQ(result.exit_status, c.expected) << result.err;
    EXPECT_EQ(result.exit_status, test_status_for(adrvet({c.key, c.list, c.mac})));
    EXPECT_EQ(result.out, "");
    if (c.expected == 2) {
      EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
    } else {
      EXPECT_EQ(result.err, "");
    }
  }
}

TEST_F(TestCommand, UsageErrorsAreUndecidedNotAnswers) {
  const std::vector<std::vector<std::string>> usages = {
      {"test", list(), "52:54:00:12:34:56"},                      // no key
      {"test", "-k", "X", list(), "52:54:00:12:34:56"},           // bad key
      {"test", "-k", "S", list()},                                // no address
      {"test", "-k", "S", list(), "52:54:00:12:34:56", "extra"},  // one address only
      {"test", "-k", "S", "--bogus", list(), "52:54:00:12:34:56"},
  };
  for (const auto& args : usages) {
    const ProcessResult result = list_tool(args);
    EXPECT_EQ(result.exit_status, 2) << args[args.size() - 1] << ": " << result.err;
  }
}

// The trap the command exists for, in a real shell: "if ADRVET" admits a
// device that is not on the list; "if adrvet-list test" does not, and a
// list that cannot be read admits nobody.
TEST_F(TestCommand, ShellIfAdmitsOnlyListedDevices) {
  const std::string script = "if \"$0\" \"$@\"; then echo admit; else echo refuse; fi";
  struct Case {
    std::vector<std::string> command;
    const char* decision;
  };
  const std::vector<Case> cases = {
      {{ADRVET_BINARY, "S", list(), "52:54:00:12:34:57"}, "admit\n"},  // the trap: not listed
      {{ADRVET_LIST_BINARY, "test", "-k", "S", list(), "52:54:00:12:34:57"}, "refuse\n"},
      {{ADRVET_LIST_BINARY, "test", "-k", "S", list(), "52:54:00:12:34:56"}, "admit\n"},
      {{ADRVET_LIST_BINARY, "test", "-k", "U", list(), "52:54:00:12:34:56"}, "refuse\n"},
      {{ADRVET_LIST_BINARY, "test", "-k", "S", dir_.file("absent"), "52:54:00:12:34:56"},
       "refuse\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-c", script};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const ProcessResult result = adrvet_test::run_process("/bin/bash", args);
    EXPECT_EQ(result.out, c.decision) << c.command[0] << " " << c.command.back();
  }
}

}  // namespace
