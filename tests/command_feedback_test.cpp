// What adrvet-list tells an administrator, run as they run it: dry runs
// that print what the real run then does and leave no trace, what pack
// replaced, a writer waiting on another's lock, one summary line for
// locally administered addresses, --quiet, --mode on an existing list,
// options that do not apply, digest of standard input and of a directory,
// check's standard input, and "did you mean" for formats.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/file_descriptor.h"
#include "crypto/container.h"
#include "crypto/crypto.h"
#include "crypto/key_versions.h"
#include "store/inventory.h"
#include "support/json_fields.h"
#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_list::Inventory;
using adrvet_test::contains;
using adrvet_test::count_of;
using adrvet_test::lines_of;
using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::write_file;

std::set<std::string> line_set(const std::string& text) {
  const std::vector<std::string> lines = lines_of(text);
  return {lines.begin(), lines.end()};
}

// Every file under `root` with its mode and content: a dry run must leave
// all of it as it was, and create nothing (no lock file, no directory).
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat status {};
    EXPECT_EQ(::lstat(entry.path().c_str(), &status), 0);
    std::string& seen = files[entry.path().string()];
    seen = std::to_string(status.st_mode) + ":";
    if (S_ISREG(status.st_mode)) {
      const adrvet_test::Bytes bytes = adrvet_test::read_file(entry.path().string());
      seen.append(bytes.begin(), bytes.end());
    }
  }
  return files;
}

// "+ a" and "- a" lines of a dry run: the sets the real run must match.
struct Plan {
  std::set<std::string> added;
  std::set<std::string> removed;
  std::set<std::string> updated;
  std::string count_line;
};

Plan plan_of(const std::string& out) {
  Plan plan;
  for (const std::string& line : lines_of(out)) {
    if (line.rfind("+ ", 0) == 0) {
      plan.added.insert(line.substr(2));
    } else if (line.rfind("- ", 0) == 0) {
      plan.removed.insert(line.substr(2));
    } else if (line.rfind("~ ", 0) == 0) {
      plan.updated.insert(line.substr(2));
    } else {
      EXPECT_TRUE(plan.count_line.empty()) << "one count line: " << out;
      plan.count_line = line;
    }
  }
  return plan;
}

std::set<std::string> minus(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::set<std::string> rest;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(rest, rest.end()));
  return rest;
}

class Feedback : public adrvet_test::ListToolTest {
 protected:
  // The addresses of the list, or none when it does not open.
  std::set<std::string> addresses(const std::string& list) const {
    const ProcessResult result = list_tool({"unpack", "-k", "S", list});
    return result.exit_status == 0 ? line_set(result.out) : std::set<std::string>{};
  }
  std::string show(const std::string& list) const {
    return list_tool({"show", "-k", "S", list}).out;
  }
};

// Each writer's dry run, then the real run: the dry run changes nothing
// under the directory, and its '+'/'-'/'~' lines and count are what the
// real run then does to the list.
TEST_F(Feedback, DryRunPrintsWhatTheRealRunThenDoes) {
  const std::string list = file("office");
  struct Step {
    const char* what;
    std::vector<std::string> args;  // LIST is appended where "LIST" stands
    std::string input;
  };
  const std::vector<Step> steps = {
      {"pack makes a new list directory",
       {"pack", "-k", "S", "-", "LIST"},
       "00:11:22:33:44:01\n00:11:22:33:44:02\n00:11:22:33:44:03\n"},
      {"pack over a list",
       {"pack", "-k", "S", "-", "LIST"},
       "00:11:22:33:44:02\n00:11:22:33:44:03\n00:11:22:33:44:04\n00:11:22:33:44:05\n"},
      {"add, one already there",
       {"add", "-k", "S", "LIST", "00:11:22:33:44:06", "00:11:22:33:44:02"},
       ""},
      {"add names a listed device",
       {"add", "-k", "S", "--label", "printer", "LIST", "00:11:22:33:44:03", "00:11:22:33:44:07"},
       ""},
      {"remove, one not there",
       {"remove", "-k", "S", "LIST", "00:11:22:33:44:04", "aa:aa:aa:aa:aa:aa"},
       ""},
      {"remove from standard input",
       {"remove", "-k", "S", "LIST", "-"},
       "# leaving\n00:11:22:33:44:05\n"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    std::vector<std::string> args = step.args;
    std::replace(args.begin(), args.end(), std::string("LIST"), list);
    const auto before_files = snapshot(dir_.path());
    const std::set<std::string> before = addresses(list);
    const std::string shown_before = show(list);

    std::vector<std::string> dry = args;
    dry.insert(dry.begin() + 1, "--dry-run");
    const ProcessResult planned = list_tool(dry, step.input);
    ASSERT_EQ(planned.exit_status, 0) << planned.err;
    EXPECT_EQ(snapshot(dir_.path()), before_files) << "a dry run wrote something";
    const Plan plan = plan_of(planned.out);

    const ProcessResult real = list_tool(args, step.input);
    ASSERT_EQ(real.exit_status, 0) << real.err;
    const std::set<std::string> after = addresses(list);
    EXPECT_EQ(plan.added, minus(after, before)) << planned.out;
    EXPECT_EQ(plan.removed, minus(before, after)) << planned.out;
    EXPECT_TRUE(contains(plan.count_line, ": " + std::to_string(after.size()) + " address"))
        << plan.count_line;
    EXPECT_TRUE(contains(plan.count_line, "would add " + std::to_string(plan.added.size())))
        << plan.count_line;
    // A new name on a listed device is an update, shown as such.
    for (const std::string& updated : plan.updated) {
      EXPECT_TRUE(before.count(updated) == 1 && after.count(updated) == 1) << updated;
      EXPECT_NE(show(list), shown_before);
    }
    if (std::string(step.what) == "add names a listed device") {
      EXPECT_EQ(plan.updated, std::set<std::string>{"00:11:22:33:44:03"}) << planned.out;
      EXPECT_TRUE(contains(plan.count_line, "update 1")) << plan.count_line;
    }
  }
}

// --json with --dry-run: the writer's document, "dry_run": true, and the
// same arrays the real run's document then gives.
TEST_F(Feedback, DryRunJsonIsTheRealRunsDocument) {
  const std::string list = file("list");
  pack(list, "00:11:22:33:44:01\n00:11:22:33:44:02\n");
  const std::vector<std::string> args = {
      "add", "-k", "S", "--json", list, "00:11:22:33:44:03", "00:11:22:33:44:01"};
  std::vector<std::string> dry = args;
  dry.insert(dry.begin() + 1, "--dry-run");
  std::string problem;
  const ProcessResult planned = list_tool(dry);
  ASSERT_EQ(planned.exit_status, 0) << planned.err;
  const auto plan = adrvet_test::json_fields("add", planned.out, problem);
  ASSERT_TRUE(plan) << problem << planned.out;
  const ProcessResult real = list_tool(args);
  ASSERT_EQ(real.exit_status, 0) << real.err;
  const auto done = adrvet_test::json_fields("add", real.out, problem);
  ASSERT_TRUE(done) << problem << real.out;
  EXPECT_EQ(plan->at("dry_run"), "true");
  EXPECT_EQ(done->at("dry_run"), "false");
  for (const auto& [path, value] : *done) {
    if (path != "dry_run") {
      EXPECT_EQ(plan->at(path), value) << path;
    }
  }
}

// A dry run fails where the real run would, with the same exit status, and
// still writes nothing.
TEST_F(Feedback, DryRunFailsWhereTheRealRunWould) {
  const std::string list = file("list");
  pack(list, "00:11:22:33:44:01\n");
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
  const std::vector<std::vector<std::string>> cases = {
      {"add", "-k", "S", file("missing"), "00:11:22:33:44:02"},  // no --create
      {"remove", "-k", "S", list, "00:11:22:33:44:01"},          // would empty it
      {"add", "-k", "U", list, "00:11:22:33:44:02"},             // the wrong key
      {"pack", "-k", "S", "-", list},                            // no address
      {"rekey", "-k", "S", "--to", "S", list},                   // same key version
      {"add", "-k", "S", list, "00:11:22:33:44"},                // not an address
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + args[3]);
    const auto before = snapshot(dir_.path());
    std::vector<std::string> dry = args;
    dry.insert(dry.begin() + 1, "--dry-run");
    const ProcessResult planned = list_tool(dry);
    EXPECT_EQ(snapshot(dir_.path()), before);
    const ProcessResult real = list_tool(args);
    EXPECT_NE(real.exit_status, 0);
    EXPECT_EQ(planned.exit_status, real.exit_status) << planned.err << real.err;
    EXPECT_EQ(planned.out, "");
  }
  // Another user, who may not write the list's directory, is told so by the
  // dry run as by the real run.
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to run as another user";
  }
  adrvet_test::ProcessOptions nobody;
  nobody.as_nobody = true;
  const std::vector<std::string> add = {"add", "-k", "S", list, "00:11:22:33:44:09"};
  std::vector<std::string> dry = add;
  dry.insert(dry.begin() + 1, "--dry-run");
  const ProcessResult planned = adrvet_test::run_process(ADRVET_LIST_BINARY, dry, nobody);
  const ProcessResult real = adrvet_test::run_process(ADRVET_LIST_BINARY, add, nobody);
  EXPECT_EQ(planned.exit_status, 1) << planned.err;
  EXPECT_EQ(real.exit_status, 1) << real.err;
}

// prune and rekey: the dry run names what would go and what would be
// rewritten; the list, its inventory and its lock stay as they were.
TEST_F(Feedback, DryRunOfPruneAndRekey) {
  const std::string list = file("list");
  ASSERT_EQ(::mkdir(list.c_str(), 0755), 0);
  pack(list, "00:00:00:00:00:01\n00:00:00:00:00:02\n00:00:00:00:00:03\n");
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  Inventory inventory;
  const std::uint32_t origin = inventory.add_origin(now - 100, "root");
  for (const auto& [address, expires] : std::vector<std::pair<std::uint64_t, std::int64_t>>{
           {1, now - 60}, {2, now + 86400}, {3, now - 1}}) {
    inventory.entries.push_back({address, expires, origin, Inventory::kNone});
  }
  const orbitforge::util::SecretBytes payload = inventory.serialize();
  ASSERT_TRUE(orbitforge::util::write_container((list + "/engine.dat.inventory").c_str(),
                                                payload.data(), payload.size(),
                                                orbitforge::util::key_for_version(1)));
  auto before = snapshot(dir_.path());
  const ProcessResult planned = list_tool({"prune", "-k", "S", "--dry-run", list});
  ASSERT_EQ(planned.exit_status, 0) << planned.err;
  EXPECT_EQ(planned.out,
            "- 00:00:00:00:00:01\n- 00:00:00:00:00:03\nwould add 0, remove 2: 1 address\n");
  EXPECT_EQ(snapshot(dir_.path()), before);
  const ProcessResult pruned = list_tool({"prune", "-k", "S", list});
  ASSERT_EQ(pruned.exit_status, 0) << pruned.err;
  EXPECT_EQ(addresses(list), std::set<std::string>{"00:00:00:00:00:02"});

  before = snapshot(dir_.path());
  const ProcessResult rekey = list_tool({"rekey", "-k", "S", "--to", "U", "--dry-run", list});
  ASSERT_EQ(rekey.exit_status, 0) << rekey.err;
  EXPECT_EQ(rekey.out,
            "would rewrite " + list + "/engine.dat under key version U (was S): 1 address\n");
  EXPECT_EQ(snapshot(dir_.path()), before);
  ASSERT_EQ(list_tool({"rekey", "-k", "S", "--to", "U", list}).exit_status, 0);
  EXPECT_EQ(adrvet_test::run_process(ADRVET_BINARY, {"U", list, "00:00:00:00:00:02"}).exit_status,
            1);
}

// export --output --dry-run compares with the file as its format reads it.
TEST_F(Feedback, ExportDryRunComparesWithTheFile) {
  const std::string list = file("list");
  const std::string out = file("acl.nft");
  pack(list, "00:11:22:33:44:01\n00:11:22:33:44:02\n");
  const std::vector<std::string> nft = {"export", "-k",       "S", "--format",
                                        "nft",    "--output", out, list};
  std::vector<std::string> dry = nft;
  dry.push_back("--dry-run");
  ProcessResult planned = list_tool(dry);
  ASSERT_EQ(planned.exit_status, 0) << planned.err;
  EXPECT_EQ(planned.out,
            "+ 00:11:22:33:44:01\n+ 00:11:22:33:44:02\nwould add 2, remove 0: 2 addresses "
            "(new file)\n");
  EXPECT_FALSE(adrvet_test::file_exists(out));
  ASSERT_EQ(list_tool(nft).exit_status, 0);
  ASSERT_EQ(list_tool({"add", "-k", "S", list, "00:11:22:33:44:03"}).exit_status, 0);
  ASSERT_EQ(list_tool({"remove", "-k", "S", list, "00:11:22:33:44:01"}).exit_status, 0);
  const adrvet_test::Bytes old_export = adrvet_test::read_file(out);
  planned = list_tool(dry);
  ASSERT_EQ(planned.exit_status, 0) << planned.err;
  EXPECT_EQ(planned.out,
            "+ 00:11:22:33:44:03\n- 00:11:22:33:44:01\nwould add 1, remove 1: 2 addresses\n");
  EXPECT_EQ(adrvet_test::read_file(out), old_export);
  // A file its format cannot read is replaced whole, and the dry run says so.
  write_file(out, std::string("not an nft file {\n"));
  planned = list_tool(dry);
  EXPECT_EQ(planned.exit_status, 0) << planned.err;
  EXPECT_TRUE(contains(planned.err, "does not read as a nft file")) << planned.err;
  EXPECT_TRUE(contains(planned.out, "would add 2, remove 0: 2 addresses")) << planned.out;
}

// Options that would be ignored are refused; --output - is standard output.
TEST_F(Feedback, OptionsThatDoNotApplyAreRefused) {
  const std::string list = file("list");
  pack(list, "00:11:22:33:44:01\n");
  struct Case {
    std::vector<std::string> options;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"--name", "acl"}, "--name does not apply to format 'plain'"},
      {{"--format", "hostapd", "--family", "bridge"},
       "--family does not apply to format 'hostapd'"},
      {{"--format", "ipset", "--table", "t"}, "--table does not apply to format 'ipset'"},
      {{"--mode", "644"}, "--mode applies only with --output FILE"},
      {{"--output", "-", "--mode", "644"}, "--mode applies only with --output FILE"},
      {{"--dry-run"}, "--dry-run applies only with --output FILE"},
      {{"--format", "nfy"}, "did you mean 'nft'?"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"export", "-k", "S"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(list);
    const ProcessResult result = list_tool(args);
    EXPECT_EQ(result.exit_status, 2) << c.message;
    EXPECT_TRUE(contains(result.err, c.message)) << result.err;
    EXPECT_EQ(result.out, "");
  }
  // The imports refuse them in the same words; nft's names are nft's.
  const std::vector<Case> imports = {
      {{"pack", "--name", "acl", "-", file("x")}, "pack: --name does not apply to format 'plain'"},
      {{"pack", "--from", "ipset", "--family", "inet", "-", file("x")},
       "pack: --family does not apply to format 'ipset'"},
      {{"add", "--from", "hostapd", "--table", "t", list, "-"},
       "add: --table does not apply to format 'hostapd'"},
      {{"pack", "--from", "nft", "--family", "inet6", "-", file("x")}, "nft knows ip, ip6,"},
      {{"add", "--from", "nft", "--name", "set", list, "-"}, "'set' cannot be an nft name"},
  };
  for (const Case& c : imports) {
    std::vector<std::string> args = c.options;
    args.insert(args.begin() + 1, {"-k", "S"});
    const ProcessResult result = list_tool(args, "00:11:22:33:44:02\n");
    EXPECT_EQ(result.exit_status, 2) << c.message;
    EXPECT_TRUE(contains(result.err, c.message)) << result.err;
  }
  EXPECT_FALSE(adrvet_test::file_exists(file("x")));
  EXPECT_EQ(list_tool({"test", "-k", "S", list, "00:11:22:33:44:02"}).exit_status, 1);
  const ProcessResult from = list_tool({"pack", "-k", "S", "--from", "dnsmaq", "-", file("x")});
  EXPECT_EQ(from.exit_status, 2);
  EXPECT_TRUE(contains(from.err, "did you mean 'dnsmasq'?")) << from.err;
  const ProcessResult to_stdout = list_tool({"export", "-k", "S", "--output", "-", list});
  EXPECT_EQ(to_stdout.exit_status, 0) << to_stdout.err;
  EXPECT_EQ(to_stdout.out, "00:11:22:33:44:01\n");
  EXPECT_FALSE(adrvet_test::file_exists("-"));
}

TEST_F(Feedback, PackOverAListSaysWhatItReplaced) {
  const std::string list = file("list");
  pack(list,
       "00:11:22:33:44:01\n00:11:22:33:44:02\n00:11:22:33:44:03\n00:11:22:33:44:04\n"
       "00:11:22:33:44:05\n");
  ProcessResult result =
      list_tool({"pack", "-k", "S", "-", list}, "00:11:22:33:44:05\n00:11:22:33:44:06\n");
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_TRUE(contains(result.err,
                       "replaced a list of 5 addresses: 4 left (00:11:22:33:44:01, "
                       "00:11:22:33:44:02, 00:11:22:33:44:03 and 1 more), 1 entered "
                       "(00:11:22:33:44:06)"))
      << result.err;
  result = list_tool({"pack", "-k", "S", "-", list}, "00:11:22:33:44:06\n00:11:22:33:44:05\n");
  EXPECT_TRUE(contains(result.err, "replaced a list of 2 addresses: the same addresses"))
      << result.err;
  // A new list replaces nothing.
  result = list_tool({"pack", "-k", "S", "-", file("new")}, "00:11:22:33:44:05\n");
  EXPECT_FALSE(contains(result.err, "replaced")) << result.err;
}

// A writer that finds the lock held says so once, after a second, naming
// the holder; --quiet leaves it out; a free lock is not mentioned.
TEST_F(Feedback, AWriterWaitingForTheLockSaysSo) {
  const std::string list = file("list");
  pack(list, "00:11:22:33:44:01\n");
  const std::vector<std::string> add = {
      "add", "-k", "S", "--wait", "2.5", list, "00:11:22:33:44:02"};
  ProcessResult result = list_tool(add);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_FALSE(contains(result.err, "waiting")) << result.err;

  const orbitforge::util::FileDescriptor lock(
      ::open((list + "/.engine.dat.lock").c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(lock.valid());
  ASSERT_EQ(::flock(lock.get(), LOCK_EX), 0);  // held until the test ends
  result = list_tool(add);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(count_of(result.err, "waiting for the lock of " + list + "/engine.dat"), 1U)
      << result.err;
  EXPECT_TRUE(contains(result.err, "held by pid " + std::to_string(::getpid()))) << result.err;
  EXPECT_TRUE(contains(result.err, "gave up after 2.5 s")) << result.err;
  std::vector<std::string> quiet = add;
  quiet.insert(quiet.begin() + 1, "--quiet");
  result = list_tool(quiet);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_FALSE(contains(result.err, "waiting")) << result.err;
  EXPECT_TRUE(contains(result.err, "gave up")) << result.err;  // errors stay
}

// A writer that gets the lock after waiting for it says so once and then
// does its work: add and remove on a list they stream as well as the
// writers that rewrite it whole. A shell holds the lock until the notice is
// out, so no clock decides the outcome.
TEST_F(Feedback, AWriterThatWaitedForTheLockGoesOn) {
  struct Case {
    std::vector<std::string> args;
    std::string address;
    int test_after;  // adrvet-list test's status for `address` afterwards
  };
  const std::string list = file("list");
  write_file(file("in.txt"), std::string("00:11:22:33:44:01\n00:11:22:33:44:09\n"));
  const Case cases[] = {
      {{"add", "-k", "S", list, "00:11:22:33:44:02"}, "00:11:22:33:44:02", 0},
      {{"remove", "-k", "S", list, "00:11:22:33:44:02"}, "00:11:22:33:44:02", 1},
      {{"pack", "-k", "S", file("in.txt"), list}, "00:11:22:33:44:09", 0},
      {{"rekey", "-k", "S", "--to", "U", list}, "00:11:22:33:44:09", 0},
  };
  pack(list, "00:11:22:33:44:01\n00:11:22:33:44:03\n");
  const std::string script =
      "exec 9>\"$1/.engine.dat.lock\"; flock 9; shift; : >\"$err\"\n"
      "\"$@\" 9>&- 2>>\"$err\" & writer=$!\n"
      "until grep -q 'waiting for the lock' \"$err\" || ! kill -0 $writer 2>/dev/null; do\n"
      "  sleep 0.05\n"
      "done\n"
      "exec 9>&-\n"
      "wait $writer; status=$?; cat \"$err\" >&2; exit $status\n";
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-c", "err=" + file("err.txt") + "\n" + script, "waiter", list,
                                     ADRVET_LIST_BINARY};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end() - 1, {"--wait", "600"});
    const ProcessResult result = adrvet_test::run_process("/bin/bash", args);
    ASSERT_EQ(result.exit_status, 0) << c.args[0] << ": " << result.err;
    EXPECT_EQ(count_of(result.err, "waiting for the lock of " + list + "/engine.dat"), 1U)
        << c.args[0] << ": " << result.err;
    const char* key = c.args[0] == "rekey" ? "U" : "S";
    EXPECT_EQ(list_tool({"test", "-k", key, list, c.address}).exit_status, c.test_after)
        << c.args[0];
  }
}

// Locally administered addresses: one warning with the count and the first
// three; the other unusual kinds keep a line each; errors are not warnings.
TEST_F(Feedback, LocallyAdministeredAddressesAreOneSummaryLine) {
  const std::string input =
      "52:54:00:12:34:01\n52:54:00:12:34:02\n01:00:5e:00:00:01\n"
      "02:00:00:00:00:01\n52:54:00:12:34:03\n3e:11:22:33:44:55\n00:11:22:33:44:55\n";
  ProcessResult result = list_tool({"pack", "-k", "S", "-", file("list")}, input);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(count_of(result.err, "locally administered"), 1U) << result.err;
  EXPECT_TRUE(contains(result.err,
                       "adrvet-list: warning: -: 5 locally administered addresses (virtual "
                       "machines, randomised phones): 52:54:00:12:34:01, 52:54:00:12:34:02, "
                       "02:00:00:00:00:01 and 2 more\n"))
      << result.err;
  EXPECT_TRUE(contains(result.err, "adrvet-list: warning: -:3: multicast address")) << result.err;
  result = list_tool({"add", "-k", "S", file("list"), "06:00:00:00:00:01", "06:00:00:00:00:02"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_TRUE(contains(result.err, "warning: add: 2 locally administered addresses")) << result.err;
  // An invalid line is an error, not a warning.
  result = list_tool({"pack", "-k", "S", "-", file("list")}, "52:54:00:12:34:01\nzz\n");
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_TRUE(contains(result.err, "adrvet-list: -:2:")) << result.err;
}

// --quiet: every writer says nothing but its errors.
TEST_F(Feedback, QuietWritersSayOnlyTheirErrors) {
  const std::string list = file("new");
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
      {{"pack", "-k", "S", "--quiet", "-", list}, "52:54:00:12:34:01\n"},
      {{"pack", "-k", "S", "--quiet", "-", list}, "52:54:00:12:34:02\n00:11:22:33:44:55\n"},
      {{"add", "-k", "S", "--quiet", list, "02:00:00:00:00:09", "00:11:22:33:44:55"}, ""},
      {{"remove", "-k", "S", "--quiet", list, "02:00:00:00:00:09", "aa:aa:aa:aa:aa:aa"}, ""},
      {{"prune", "-k", "S", "--quiet", list}, ""},
      {{"export", "-k", "S", "--quiet", "--format", "ipset", "--output", file("x.ipset"), list},
       ""},
      {{"rekey", "-k", "S", "--to", "U", "--quiet", list}, ""},
  };
  for (const auto& [args, input] : runs) {
    const ProcessResult result = list_tool(args, input);
    EXPECT_EQ(result.exit_status, 0) << args[0] << result.err;
    EXPECT_EQ(result.err, "") << args[0];
  }
  const ProcessResult failed = list_tool({"add", "-k", "U", "--quiet", list, "zz"});
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_NE(failed.err, "");
}

// --mode on an existing list gives it, its inventory and its lock that mode,
// even when the addresses do not change.
TEST_F(Feedback, ModeOnAnExistingListApplies) {
  const std::string list = file("list");
  pack(list, "00:11:22:33:44:01\n");
  const auto mode_of = [](const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
  };
  ASSERT_EQ(mode_of(list + "/engine.dat"), 0600U);
  ProcessResult result = list_tool({"add", "-k", "S", "--mode", "640", list, "00:11:22:33:44:01"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(mode_of(list + "/engine.dat"), 0640U);
  EXPECT_EQ(mode_of(list + "/engine.dat.inventory"), 0640U);
  result = list_tool({"pack", "-k", "S", "--mode", "0644", "-", list}, "00:11:22:33:44:01\n");
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(mode_of(list + "/engine.dat"), 0644U);
  EXPECT_EQ(mode_of(list + "/engine.dat.inventory"), 0644U);
  // Without --mode the mode stays.
  ASSERT_EQ(list_tool({"add", "-k", "S", list, "00:11:22:33:44:02"}).exit_status, 0);
  EXPECT_EQ(mode_of(list + "/engine.dat"), 0644U);
  EXPECT_EQ(adrvet_test::run_process(ADRVET_BINARY, {"S", list, "00:11:22:33:44:02"}).exit_status,
            1);
}

// digest -: standard input; digest DIR: the list in it, named so that
// sha256sum -c checks it; a file that cannot be read says why.
TEST_F(Feedback, DigestReadsStandardInputAndListDirectories) {
  const std::string list = file("list");
  pack(list, "00:11:22:33:44:01\n");
  const std::string text = "some bytes\n";
  const ProcessResult from_stdin = list_tool({"digest", "-"}, text);
  ASSERT_EQ(from_stdin.exit_status, 0) << from_stdin.err;
  adrvet_test::ProcessOptions piped;
  piped.stdin_text = text;
  EXPECT_EQ(from_stdin.out, adrvet_test::run_process("/usr/bin/sha256sum", {"-"}, piped).out);

  const ProcessResult of_dir = list_tool({"digest", list});
  ASSERT_EQ(of_dir.exit_status, 0) << of_dir.err;
  EXPECT_EQ(of_dir.out, adrvet_test::run_process("/usr/bin/sha256sum", {list + "/engine.dat"}).out);
  write_file(file("sums"), of_dir.out);
  EXPECT_EQ(adrvet_test::run_process("/usr/bin/sha256sum", {"-c", file("sums")}).exit_status, 0);

  const ProcessResult missing = list_tool({"digest", file("missing")});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_TRUE(contains(missing.err, "cannot read: No such file or directory")) << missing.err;
  ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
  const ProcessResult fifo = list_tool({"digest", file("fifo")});
  EXPECT_EQ(fifo.exit_status, 1);
  EXPECT_TRUE(contains(fifo.err, "not a regular file")) << fifo.err;
}

// check reads standard input as pack reads a list, and ADRVET agrees with
// every answer it gives.
TEST_F(Feedback, CheckReadsStandardInputAsPackDoes) {
  const std::string list = file("list");
  pack(list, "00:11:22:33:44:01\n");
  const std::string input =
      "# devices to check\n\n   \n  00:11:22:33:44:01  \n00:11:22:33:44:02 # guest\r\n"
      "\t00-11-22-33-44-01\r\nzz\n";
  const ProcessResult result = list_tool({"check", "-k", "S", list}, input);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out,
            "00:11:22:33:44:01\t1\n00:11:22:33:44:02\t0\n00-11-22-33-44-01\t1\nzz\t-6\n");
  for (const std::string& line : lines_of(result.out)) {
    const std::string mac = line.substr(0, line.find('\t'));
    const int status = adrvet_test::run_process(ADRVET_BINARY, {"S", list, mac}).exit_status;
    EXPECT_EQ(std::to_string(status > 127 ? status - 256 : status),
              line.substr(line.find('\t') + 1))
        << mac;
  }
}

}  // namespace
