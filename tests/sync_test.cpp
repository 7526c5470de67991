// sync run as administrators run it: a list, a targets file, and peers
// played by shell scripts that check and reload, record what they were
// given and fail on demand. Every --json document goes through a real JSON
// parser (support/json_check.py).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "support/json_fields.h"
#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_test::count_of;
using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::read_file;
using adrvet_test::write_file;

std::string text_of(const std::string& path) {
  const auto bytes = read_file(path);
  return {bytes.begin(), bytes.end()};
}

void write_script(const std::string& path, const std::string& body) {
  write_file(path, "#!/bin/sh\n" + body);
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

adrvet_test::JsonFields json_of(const std::string& command, const ProcessResult& result) {
  std::string problem;
  auto fields = adrvet_test::json_fields(command, result.out, problem);
  EXPECT_TRUE(fields.has_value()) << problem << "\n" << result.out;
  return fields.value_or(adrvet_test::JsonFields{});
}

constexpr char kFirst[] = "02:00:00:00:00:01";
constexpr char kSecond[] = "3c:22:fb:12:34:56";
constexpr char kNewcomer[] = "3c:22:fb:00:00:07";

// A list directory with two addresses, two targets whose peers are scripts:
// check.sh records the file it is given and refuses it while FAIL_CHECK
// exists; reload.sh records its arguments and fails while FAIL_RELOAD exists.
class Sync : public adrvet_test::ListToolTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(list().c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(file("out").c_str(), 0755), 0);
    ASSERT_NO_FATAL_FAILURE(pack(list(), std::string(kFirst) + "\n" + kSecond + "\n"));
    write_script(file("check.sh"), "echo \"check $1\" >>'" + file("log") +
                                       "'\n"
                                       "cp \"$1\" '" +
                                       file("checked") +
                                       "'\n"
                                       "if [ -e '" +
                                       file("FAIL_CHECK") +
                                       "' ]; then\n"
                                       "  echo 'line 2: this peer refuses the entry' >&2; exit 1\n"
                                       "fi\n");
    write_script(file("reload.sh"), "echo \"reload $*\" >>'" + file("log") +
                                        "'\n"
                                        "if [ -e '" +
                                        file("FAIL_RELOAD") +
                                        "' ]; then\n"
                                        "  echo 'the peer will not start with it' >&2; exit 1\n"
                                        "fi\n");
    write_targets(targets_text());
  }

  [[nodiscard]] std::string list() const { return file("list"); }
  [[nodiscard]] std::string wifi() const { return file("out/wifi.accept"); }
  [[nodiscard]] std::string firewall() const { return file("out/firewall.nft"); }

  [[nodiscard]] std::string targets_text() const {
    return "# the enforcement points of this list\n"
           "[wifi]\n"
           "format = hostapd\n"
           "output = " +
           wifi() +
           "\n"
           "check = " +
           file("check.sh") +
           " {}\n"
           "reload = " +
           file("reload.sh") +
           " wifi {}\n"
           "\n"
           "[firewall]\n"
           "format = nft\n"
           "family = bridge\n"
           "table = lan\n"
           "name = allow\n"
           "output = " +
           firewall() +
           "\n"
           "check = " +
           file("check.sh") +
           " {}\n"
           "reload = " +
           file("reload.sh") + " firewall\n";
  }
  void write_targets(const std::string& text) const {
    write_file(file("list/targets.conf"), text);
    ASSERT_EQ(::chmod(file("list/targets.conf").c_str(), 0644), 0);
  }

  [[nodiscard]] ProcessResult sync(std::vector<std::string> extra = {}) const {
    std::vector<std::string> args = {"sync", "-k", "S"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(list());
    return list_tool(args);
  }
  [[nodiscard]] std::string log() const {
    return adrvet_test::file_exists(file("log")) ? text_of(file("log")) : "";
  }
  void clear_log() const { write_file(file("log"), ""); }
  // What `export` writes for the target: the file a sync must leave live.
  [[nodiscard]] std::string expected_wifi() const {
    return list_tool({"export", "-k", "S", "--format", "hostapd", list()}).out;
  }
  [[nodiscard]] std::string expected_firewall() const {
    return list_tool({"export", "-k", "S", "--format", "nft", "--family", "bridge", "--table",
                      "lan", "--name", "allow", list()})
        .out;
  }
};

TEST_F(Sync, FirstSyncWritesEveryOutputChecksAndReloads) {
  const auto result = sync({"--json"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(text_of(wifi()), expected_wifi());
  EXPECT_EQ(text_of(firewall()), expected_firewall());
  // The check saw the new file before it went live; the reload got {} as the output.
  EXPECT_NE(log().find("reload wifi " + wifi() + "\n"), std::string::npos) << log();
  EXPECT_NE(log().find("reload firewall\n"), std::string::npos) << log();
  EXPECT_EQ(text_of(file("checked")), expected_firewall());
  const auto json = json_of("sync", result);
  EXPECT_EQ(json.at("mode"), "\"sync\"");
  EXPECT_EQ(json.at("ok"), "true");
  EXPECT_EQ(json.at("changed"), "true");
  EXPECT_EQ(json.at("targets.length"), "2");
  EXPECT_EQ(json.at("targets.0.name"), "\"wifi\"");
  EXPECT_EQ(json.at("targets.0.format"), "\"hostapd\"");
  EXPECT_EQ(json.at("targets.0.state"), "\"updated\"");
  EXPECT_EQ(json.at("targets.0.added"), "2");
  EXPECT_EQ(json.at("targets.1.format"), "\"nft\"");
  EXPECT_EQ(json.at("targets.1.output"), "\"" + firewall() + "\"");
}

TEST_F(Sync, InStepRunsNothingAndChangesFollowTheList) {
  ASSERT_EQ(sync().exit_status, 0);
  clear_log();
  auto result = sync({"--json"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(log(), "") << "a sync with nothing to do checks and reloads nothing";
  auto json = json_of("sync", result);
  EXPECT_EQ(json.at("changed"), "false");
  EXPECT_EQ(json.at("targets.0.state"), "\"in_step\"");
  EXPECT_EQ(json.at("targets.1.state"), "\"in_step\"");

  ASSERT_EQ(list_tool({"add", "-k", "S", list(), kNewcomer}).exit_status, 0);
  ASSERT_EQ(list_tool({"remove", "-k", "S", list(), kFirst}).exit_status, 0);
  result = sync({"--json"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  json = json_of("sync", result);
  for (const char* target : {"0", "1"}) {
    EXPECT_EQ(json.at(std::string("targets.") + target + ".state"), "\"updated\"");
    EXPECT_EQ(json.at(std::string("targets.") + target + ".added"), "1");
    EXPECT_EQ(json.at(std::string("targets.") + target + ".removed"), "1");
  }
  EXPECT_EQ(text_of(wifi()), expected_wifi());
  EXPECT_NE(text_of(wifi()).find(kNewcomer), std::string::npos);
  EXPECT_EQ(text_of(wifi()).find(kFirst), std::string::npos);
}

// Labels reach the live files as export writes them, and a label changed
// later is a drift that the next sync mends.
TEST_F(Sync, LabelsAreSyncedAsExportWritesThem) {
  ASSERT_EQ(list_tool({"add", "-k", "S", "--label", "front desk", list(), kFirst}).exit_status, 0);
  ASSERT_EQ(sync().exit_status, 0);
  EXPECT_EQ(text_of(wifi()), expected_wifi());
  EXPECT_EQ(text_of(firewall()), expected_firewall());
  EXPECT_NE(text_of(wifi()).find("# front desk\n"), std::string::npos) << text_of(wifi());
  EXPECT_NE(text_of(firewall()).find("comment \"front desk\""), std::string::npos);
  auto result = sync({"--check"});
  EXPECT_EQ(result.exit_status, 0) << result.out << result.err;

  ASSERT_EQ(list_tool({"add", "-k", "S", "--label", "back office", list(), kFirst}).exit_status, 0);
  result = sync({"--check", "--json"});
  EXPECT_EQ(result.exit_status, 1) << "a changed label is not yet live";
  auto json = json_of("sync", result);
  EXPECT_EQ(json.at("targets.0.state"), "\"drifted\"");
  EXPECT_EQ(json.at("targets.0.added"), "0");
  EXPECT_EQ(json.at("targets.0.removed"), "0");
  result = sync({"--json"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  json = json_of("sync", result);
  EXPECT_EQ(json.at("targets.0.state"), "\"updated\"");
  EXPECT_EQ(json.at("targets.1.state"), "\"updated\"");
  EXPECT_EQ(text_of(wifi()), expected_wifi());
  EXPECT_EQ(text_of(firewall()), expected_firewall());
  EXPECT_NE(text_of(wifi()).find("# back office\n"), std::string::npos) << text_of(wifi());
  result = sync({"--check"});
  EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
  EXPECT_EQ(result.out, "wifi: in step\nfirewall: in step\n");
}

TEST_F(Sync, AFailedCheckLeavesTheLiveFileAndTheOthersGoOn) {
  ASSERT_EQ(sync().exit_status, 0);
  const std::string before = text_of(firewall());
  ASSERT_EQ(list_tool({"add", "-k", "S", list(), kNewcomer}).exit_status, 0);
  // Only the firewall's check fails: a check of its own that refuses.
  std::string targets = targets_text();
  const std::string firewall_check =
      "check = " + file("check.sh") + " {}\nreload = " + file("reload.sh") + " firewall";
  targets.replace(
      targets.find(firewall_check), firewall_check.size(),
      "check = " + file("refuse.sh") + " {}\nreload = " + file("reload.sh") + " firewall");
  write_targets(targets);
  write_script(file("refuse.sh"), "echo \"$1:7: Error: syntax error\" >&2\nexit 1\n");
  clear_log();
  const auto result = sync({"--json"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(text_of(firewall()), before) << "the refused file must not go live";
  EXPECT_EQ(text_of(wifi()), expected_wifi()) << "the other target is still synced";
  EXPECT_EQ(log().find("reload firewall"), std::string::npos) << log();
  EXPECT_NE(result.err.find(":7: Error: syntax error"), std::string::npos)
      << "the checker's own message: " << result.err;
  const auto json = json_of("sync", result);
  EXPECT_EQ(json.at("ok"), "false");
  EXPECT_EQ(json.at("targets.0.state"), "\"updated\"");
  EXPECT_EQ(json.at("targets.1.state"), "\"failed\"");
  EXPECT_NE(json.at("targets.1.message").find("syntax error"), std::string::npos);
}

TEST_F(Sync, AFailedReloadPutsTheOldFileBackAndReloadsIt) {
  ASSERT_EQ(sync().exit_status, 0);
  const std::string before = text_of(wifi());
  ASSERT_EQ(list_tool({"add", "-k", "S", list(), kNewcomer}).exit_status, 0);
  write_file(file("FAIL_RELOAD"), "");
  clear_log();
  const auto result = sync();
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(text_of(wifi()), before);
  EXPECT_NE(result.err.find("the peer will not start with it"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("the old file is back, but reloading it failed too"), std::string::npos)
      << result.err;
  EXPECT_EQ(count_of(log(), "reload wifi "), 2U) << "the new file, then the old one: " << log();
  // Once the peer takes files again, the next sync brings it in step.
  ::unlink(file("FAIL_RELOAD").c_str());
  const auto again = sync();
  EXPECT_EQ(again.exit_status, 0) << again.err;
  EXPECT_EQ(text_of(wifi()), expected_wifi());
}

TEST_F(Sync, AFailedReloadOfANewOutputRemovesIt) {
  write_file(file("FAIL_RELOAD"), "");
  const auto result = sync({"--json"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_FALSE(adrvet_test::file_exists(wifi()));
  EXPECT_FALSE(adrvet_test::file_exists(firewall()));
  EXPECT_NE(result.err.find("the new file is removed"), std::string::npos) << result.err;
  const auto json = json_of("sync", result);
  EXPECT_EQ(json.at("targets.0.state"), "\"failed\"");
  EXPECT_EQ(json.at("targets.1.state"), "\"failed\"");
}

TEST_F(Sync, CheckReportsDriftAndRunsNothing) {
  ASSERT_EQ(sync().exit_status, 0);
  auto result = sync({"--check"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "wifi: in step\nfirewall: in step\n");
  // By hand: one address dropped from the wifi file, two added; the
  // firewall's file is gone.
  std::string edited = text_of(wifi());
  edited.erase(0, edited.find('\n') + 1);
  edited += "3c:22:fb:aa:aa:aa\n3c:22:fb:bb:bb:bb\n";
  write_file(wifi(), edited);
  ::unlink(firewall().c_str());
  clear_log();
  result = sync({"--check", "--json"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(log(), "") << "--check runs neither checks nor reloads";
  EXPECT_EQ(text_of(wifi()), edited) << "--check writes nothing";
  EXPECT_FALSE(adrvet_test::file_exists(firewall()));
  const auto json = json_of("sync", result);
  EXPECT_EQ(json.at("mode"), "\"check\"");
  EXPECT_EQ(json.at("ok"), "false");
  EXPECT_EQ(json.at("changed"), "true");
  EXPECT_EQ(json.at("targets.0.state"), "\"drifted\"");
  EXPECT_EQ(json.at("targets.0.added"), "1");
  EXPECT_EQ(json.at("targets.0.removed"), "2");
  EXPECT_EQ(json.at("targets.1.state"), "\"missing\"");
  EXPECT_EQ(json.at("targets.1.added"), "2");
  // Without --json, each drifted target is named with how it drifted.
  result = sync({"--check"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("wifi: drifted: " + wifi() + ": 1 address missing, 2 in excess"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("firewall: missing: " + firewall() + " does not exist"),
            std::string::npos)
      << result.out;
}

TEST_F(Sync, DryRunChecksButWritesAndReloadsNothing) {
  auto result = sync({"--dry-run", "--json"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_FALSE(adrvet_test::file_exists(wifi()));
  EXPECT_EQ(count_of(log(), "reload"), 0U) << log();
  EXPECT_EQ(count_of(log(), "check"), 2U) << log();
  auto json = json_of("sync", result);
  EXPECT_EQ(json.at("mode"), "\"dry_run\"");
  EXPECT_EQ(json.at("changed"), "true");
  EXPECT_EQ(json.at("targets.0.state"), "\"would_update\"");
  // A check that refuses makes the dry run fail as the sync would.
  write_file(file("FAIL_CHECK"), "");
  result = sync({"--dry-run", "--json"});
  EXPECT_EQ(result.exit_status, 1);
  json = json_of("sync", result);
  EXPECT_EQ(json.at("targets.0.state"), "\"failed\"");
  EXPECT_FALSE(adrvet_test::file_exists(wifi()));
}

TEST_F(Sync, CommandsRunWithoutAShell) {
  // Shell syntax in a command is passed on as words, never interpreted.
  std::string targets = targets_text();
  targets += "\n[plain]\nformat = plain\noutput = " + file("out/plain.txt") +
             "\nreload = /bin/echo hello > " + file("redirected") + " ; touch " +
             file("second-command") + " $(touch " + file("substituted") + ")\n";
  write_targets(targets);
  const auto result = sync();
  EXPECT_EQ(result.exit_status, 0) << result.err;
  for (const char* name : {"redirected", "second-command", "substituted"}) {
    EXPECT_FALSE(adrvet_test::file_exists(file(name))) << name;
  }
}

TEST_F(Sync, ACommandThatCannotRunFailsItsTargetOnly) {
  std::string targets = targets_text();
  targets += "\n[gone]\nformat = hostapd\noutput = " + file("out/gone.accept") +
             "\ncheck = " + file("no-such-checker") + " {}\n";
  write_targets(targets);
  const auto result = sync();
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("gone: check refused the new file"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("No such file or directory"), std::string::npos) << result.err;
  EXPECT_FALSE(adrvet_test::file_exists(file("out/gone.accept")));
  EXPECT_EQ(text_of(wifi()), expected_wifi());
}

TEST_F(Sync, TwoSyncsOfOneOutputNeverInterleave) {
  // Two lists feed one output; the reload notices another reload running
  // at the same time (mkdir is atomic), and another sync's write to the
  // output while it reloads (the lists differ), and stays a while to be caught.
  const std::string other = file("other");
  ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", other}, std::string(kNewcomer) + "\n").exit_status,
            0);
  const std::string busy = "'" + file("busy") + "'";
  write_script(file("exclusive.sh"),
               "mkdir " + busy + " || { echo 'two reloads at once' >&2; exit 1; }\n" +
                   "cp \"$1\" " + busy + "/reloaded\n" + "sleep 0.3\n" + "cmp -s \"$1\" " + busy +
                   "/reloaded || { echo 'the output changed during its reload' >&2; exit 1; }\n" +
                   "rm -r " + busy + "\n");
  const std::string target = "[wifi]\nformat = hostapd\noutput = " + wifi() +
                             "\nreload = " + file("exclusive.sh") + " {}\n";
  write_targets(target);
  write_file(other + "/targets.conf", target);
  ASSERT_EQ(::chmod((other + "/targets.conf").c_str(), 0644), 0);
  std::vector<std::vector<std::string>> commands;
  for (int i = 0; i < 6; ++i) {
    commands.push_back({"sync", "-k", "S", i % 2 == 0 ? list() : other});
  }
  const auto results = adrvet_test::run_concurrently(ADRVET_LIST_BINARY, commands);
  for (const auto& result : results) {
    EXPECT_EQ(result.exit_status, 0) << result.err;
  }
  const std::string live = text_of(wifi());
  EXPECT_TRUE(live == expected_wifi() || live == std::string(kNewcomer) + "\n") << live;
}

TEST_F(Sync, AListChangedDuringTheSyncIsSyncedAgain) {
  // The first reload adds an address, as a provisioning hook might meanwhile.
  write_script(file("reload-and-add.sh"), "[ -e '" + file("added") +
                                              "' ] && exit 0\n"
                                              "touch '" +
                                              file("added") +
                                              "'\n"
                                              "exec " +
                                              std::string(ADRVET_LIST_BINARY) + " add -k S '" +
                                              list() + "' " + kNewcomer + "\n");
  write_targets("[wifi]\nformat = hostapd\noutput = " + wifi() +
                "\nreload = " + file("reload-and-add.sh") + "\n");
  const auto result = sync({"--json"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(text_of(wifi()), expected_wifi());
  EXPECT_NE(text_of(wifi()).find(kNewcomer), std::string::npos);
  const auto json = json_of("sync", result);
  EXPECT_EQ(json.at("targets.0.state"), "\"updated\"");
  EXPECT_EQ(json.at("targets.0.added"), "3");
}

TEST_F(Sync, TargetsFileMistakesNameTheLine) {
  struct Case {
    std::string text;
    std::string message;  // after "targets.conf:"
  };
  const std::string out = "output = " + file("out/x") + "\n";
  const std::vector<Case> cases = {
      {"[a]\nformat = hostapd\n" + out + "colour = blue\n", "4: unknown key 'colour'"},
      {"[a]\nformat = xml\n" + out, "2: unknown format 'xml'"},
      {"format = hostapd\n[a]\n", "1: 'format' comes before the first [name] line"},
      {"[a]\nformat = hostapd\n" + out + "format = nft\n", "4: 'format' given twice in [a]"},
      {"[a]\nformat = hostapd\n" + out + "[a]\nformat = hostapd\n" + out,
       "4: [a] comes twice (first on line 1)"},
      {"# none\n\n[a]\n" + out, "3: [a] has no format"},
      {"[a]\nformat = hostapd\n", "1: [a] has no output"},
      {"[a]\nformat = hostapd\noutput = out/x\n", "3: output must be the absolute path"},
      {"[a]\nformat = hostapd\ntable = lan\n" + out, "3: 'table' does not apply to format hostapd"},
      {"[a]\nformat = ipset\nfamily = inet\n" + out, "3: 'family' does not apply to format ipset"},
      {"[a]\nformat = nft\nname = flush\n" + out, "3: "},
      {"[a]\nformat = hostapd\nmode = 0999\n" + out, "3: mode takes permission bits in octal"},
      {"[a]\nformat = hostapd\n" + out + "reload = kill -HUP 'x\n", "4: reload: a ' is not closed"},
      {"[a]\nformat = hostapd\n" + out + "check = /bin/true\n",
       "4: check must name the new file as {}"},
      {"[a]\nformat = hostapd\n" + out + "[b]\nformat = plain\n" + out,
       "6: [a] already writes " + file("out/x")},
      {"[a b]\n", "1: 'a b' cannot name a target"},
      {"[a]\nformat hostapd\n", "2: expected [name] or key = value"},
      {"# nothing but comments\n", "names no target"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    write_targets(c.text);
    const auto result = sync();
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, "");
    const std::string where = file("list/targets.conf") + (c.message[0] == 'n' ? ": " : ":");
    EXPECT_NE(result.err.find(where + c.message), std::string::npos) << result.err;
  }
}

TEST_F(Sync, TargetsFileAndUsageSettings) {
  // --targets names a file elsewhere; a targets file with CRLF line ends,
  // comments and quoted words is read as meant.
  write_file(file("elsewhere.conf"),
             "; comment\r\n[wifi]\r\nformat = hostapd\r\noutput = " + wifi() +
                 "\r\nreload = " + file("reload.sh") + " 'two words' \"and \\\"quoted\\\"\"\r\n");
  ASSERT_EQ(::chmod(file("elsewhere.conf").c_str(), 0600), 0);
  auto result = sync({"--targets", file("elsewhere.conf")});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(log(), "reload two words and \"quoted\"\n");
  result = sync({"--check", "--dry-run"});
  EXPECT_EQ(result.exit_status, 2);
  result = sync({"--targets", file("missing.conf")});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("missing.conf: cannot read"), std::string::npos) << result.err;
}

// The targets file names commands that run as whoever runs the sync, often
// root: a file that anyone else could change is refused before anything runs.
TEST_F(Sync, ATargetsFileOthersCouldChangeIsRefused) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to hand files to another user";
  }
  constexpr uid_t kNobody = 65534;
  const std::string conf = file("list/targets.conf");
  const std::string shared = file("shared");
  ASSERT_EQ(::mkdir(shared.c_str(), 0755), 0);
  write_file(shared + "/targets.conf", targets_text());
  struct Case {
    const char* what;
    std::string path;
    std::function<void()> arrange;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"group-writable", conf, [&] { ::chmod(conf.c_str(), 0664); }, "others may write to it"},
      {"world-writable", conf, [&] { ::chmod(conf.c_str(), 0646); }, "others may write to it"},
      {"another user's", conf, [&] { (void)::chown(conf.c_str(), kNobody, kNobody); },
       "it belongs to another user"},
      {"in a directory others may write to", conf, [&] { ::chmod(list().c_str(), 0777); },
       "others may write to its directory"},
      {"in another user's directory", conf,
       [&] { (void)::chown(list().c_str(), kNobody, kNobody); }, "belongs to another user"},
      {"a link into a directory others may write to", conf,
       [&] {
         ::chmod(shared.c_str(), 0777);
         ::unlink(conf.c_str());
         (void)::symlink((shared + "/targets.conf").c_str(), conf.c_str());
       },
       "others may write to its directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_targets(targets_text());
    ::chmod(list().c_str(), 0700);
    (void)::chown(list().c_str(), 0, 0);
    ::chmod(shared.c_str(), 0755);
    c.arrange();
    const auto result = sync();
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("refused: it names commands that run as you"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(log(), "") << "nothing may run";
    EXPECT_FALSE(adrvet_test::file_exists(wifi()));
    ::unlink(conf.c_str());
  }
  // A sticky directory such as /tmp is safe: others cannot replace the file.
  write_targets(targets_text());
  ::chmod(list().c_str(), 01777);
  (void)::chown(list().c_str(), 0, 0);
  const auto result = sync();
  EXPECT_EQ(result.exit_status, 0) << result.err;
}

TEST_F(Sync, AnotherUserSyncsWithRootsTargetsFileAsThemselves) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to run as another user";
  }
  // nobody may read everything and write the outputs; root's targets file
  // is trusted, and the commands run as nobody.
  for (const std::string& path : {dir_.path(), list()}) {
    ::chmod(path.c_str(), 0755);
  }
  ::chmod(file("list/engine.dat").c_str(), 0644);
  (void)::chown(file("out").c_str(), 65534, 65534);
  write_script(file("whoami.sh"), "id -u >'" + file("out/uid") + "'\n");
  write_targets("[wifi]\nformat = hostapd\noutput = " + wifi() + "\nreload = " + file("whoami.sh") +
                "\n");
  adrvet_test::ProcessOptions options;
  options.as_nobody = true;
  const auto result =
      adrvet_test::run_process(ADRVET_LIST_BINARY, {"sync", "-k", "S", list()}, options);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(text_of(file("out/uid")), "65534\n");
  // nobody's own targets file in root's directory would be theirs to trust,
  // but root refuses to run what nobody wrote.
  (void)::chown(file("list/targets.conf").c_str(), 65534, 65534);
  const auto as_root = sync();
  EXPECT_EQ(as_root.exit_status, 1);
  EXPECT_NE(as_root.err.find("belongs to another user"), std::string::npos) << as_root.err;
}

}  // namespace
