// --json on every command that reports something: each document is read
// back by a real JSON parser and checked against its command's schema
// (support/json_check.py); exit statuses are those of the text output, and
// messages stay on standard error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/json_fields.h"
#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_test::JsonFields;
using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::write_file;

constexpr char kA[] = "02:00:00:00:00:01";
constexpr char kB[] = "3c:22:fb:12:34:56";
constexpr char kC[] = "3c:22:fb:00:00:07";

class Json : public adrvet_test::ListToolTest {
 protected:
  void SetUp() override { pack(file("list.dat"), std::string(kB) + "\n" + kA + "\n"); }

  // Runs the command, checks that its standard output is one valid document
  // of `command`, and gives its fields.
  JsonFields run(const std::string& command, std::vector<std::string> args, int expected_status,
                 const std::string& input = "") {
    args.insert(args.begin(), command);
    const ProcessResult result = list_tool(args, input);
    EXPECT_EQ(result.exit_status, expected_status) << result.err;
    std::string problem;
    auto fields = adrvet_test::json_fields(command, result.out, problem);
    EXPECT_TRUE(fields.has_value()) << problem << "\nout: " << result.out;
    last_err_ = result.err;
    return fields.value_or(JsonFields{});
  }

  std::string last_err_;
};

TEST_F(Json, Verify) {
  struct Case {
    const char* what;
    std::string content;  // of the list file; empty: the fixture's list
    int status;
    std::vector<std::pair<std::string, std::string>> fields;
  };
  const std::vector<Case> cases = {
      {"a usable list",
       "",
       0,
       {{"ok", "true"},
        {"addresses", "2"},
        {"answer", "null"},
        {"problem", "null"},
        {"metadata.present", "true"},
        {"metadata.ok", "true"},
        {"metadata.entries", "2"},
        {"metadata.problem", "null"}}},
      {"a file that is no list",
       "not a protected list, just text",
       1,
       {{"ok", "false"}, {"addresses", "null"}, {"answer", "-3"}}},
      {"an empty file", "\x01", 1, {{"ok", "false"}, {"addresses", "null"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = c.content.empty() ? file("list.dat") : file("other.dat");
    if (!c.content.empty()) {
      write_file(path, c.content);
    }
    const JsonFields json = run("verify", {"-k", "S", "--json", path}, c.status);
    EXPECT_EQ(json.at("list"), "\"" + path + "\"");
    for (const auto& [key, value] : c.fields) {
      EXPECT_EQ(json.at(key), value) << key;
    }
    if (c.status != 0) {
      EXPECT_NE(json.at("problem"), "null");
      EXPECT_FALSE(last_err_.empty()) << "messages stay on standard error";
    }
  }
  // A damaged inventory fails the verdict though the list itself is fine.
  write_file(file("list.dat") + ".inventory", "not an inventory");
  JsonFields damaged = run("verify", {"-k", "S", "--json", file("list.dat")}, 1);
  EXPECT_EQ(damaged.at("ok"), "false");
  EXPECT_EQ(damaged.at("addresses"), "2");
  EXPECT_EQ(damaged.at("metadata.ok"), "false");
  EXPECT_NE(damaged.at("metadata.problem"), "null");
  // The wrong key version: ADRVET's -3.
  const JsonFields json = run("verify", {"-k", "U", "-j", file("list.dat")}, 1);
  EXPECT_EQ(json.at("answer"), "-3");
  // A missing list: -1.
  EXPECT_EQ(run("verify", {"-k", "S", "--json", file("none.dat")}, 1).at("answer"), "-1");
}

TEST_F(Json, CheckGivesEveryAnswerInOrder) {
  const std::string input = std::string(kA) + "\n" + "3C-22-FB-12-34-56\r\n" + "zz\n" +
                            std::string(70, '0') + "\n" + std::string(12, '\xff') + "\n" + kC +
                            "\n";
  const JsonFields json = run("check", {"-k", "S", "--json", file("list.dat")}, 0, input);
  EXPECT_EQ(json.at("complete"), "true");
  EXPECT_EQ(json.at("results.length"), "6");
  std::string replacement;
  for (int i = 0; i < 12; ++i) {
    replacement += "\xef\xbf\xbd";
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"\"" + std::string(kA) + "\"", "1"},
      {"\"3C-22-FB-12-34-56\"", "1"},
      {"\"zz\"", "-6"},
      {"\"" + std::string(70, '0') + "\"", "-8"},
      {"\"" + replacement + "\"", "-7"},  // each byte that is not UTF-8 as U+FFFD
      {"\"" + std::string(kC) + "\"", "0"},
  };
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    if (i != 3 && i != 4) {  // a long or unprintable input is shown shortened or escaped
      EXPECT_EQ(json.at("results." + std::to_string(i) + ".input"), expected[i].first);
    }
    EXPECT_EQ(json.at("results." + std::to_string(i) + ".answer"), expected[i].second);
  }
  // Addresses as arguments; an unusable list prints no document at all.
  EXPECT_EQ(run("check", {"-k", "S", "-j", file("list.dat"), kC}, 0).at("results.0.answer"), "0");
  const ProcessResult unusable = list_tool({"check", "-k", "U", "--json", file("list.dat"), kC});
  EXPECT_EQ(unusable.exit_status, 1);
  EXPECT_EQ(unusable.out, "");
}

TEST_F(Json, Diff) {
  ASSERT_EQ(list_tool({"pack", "-k", "U", "-", file("b.dat")}, std::string(kB) + "\n" + kC + "\n")
                .exit_status,
            0);
  JsonFields json =
      run("diff", {"-k", "S", "--key-b", "U", "--json", file("list.dat"), file("b.dat")}, 1);
  EXPECT_EQ(json.at("same"), "false");
  EXPECT_EQ(json.at("only_a.length"), "1");
  EXPECT_EQ(json.at("only_a.0"), "\"" + std::string(kA) + "\"");
  EXPECT_EQ(json.at("only_b.0"), "\"" + std::string(kC) + "\"");
  EXPECT_EQ(json.at("changed.length"), "0");
  json = run("diff", {"-k", "S", "--json", file("list.dat"), file("list.dat")}, 0);
  EXPECT_EQ(json.at("same"), "true");
  EXPECT_EQ(json.at("only_a.length"), "0");
}

TEST_F(Json, DigestNamesEveryFileEvenOnesItCannotRead) {
  const std::string odd = file("name with \"quotes\", \\ and \n\xff");
  write_file(odd, "abc");
  const JsonFields json = run("digest", {"--json", odd, file("missing")}, 1);
  EXPECT_EQ(json.at("files.length"), "2");
  // SHA-256("abc"), FIPS 180-4's first example.
  EXPECT_EQ(json.at("files.0.sha256"),
            "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"");
  EXPECT_EQ(json.at("files.0.path"),
            "\"" + file("name with \\\"quotes\\\", \\\\ and \\n\xef\xbf\xbd") + "\"");
  EXPECT_EQ(json.at("files.1.sha256"), "null");
  EXPECT_NE(last_err_.find("cannot read"), std::string::npos);
}

TEST_F(Json, WritersSayWhatChanged) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    std::vector<std::pair<std::string, std::string>> fields;
  };
  const std::string list = file("list.dat");
  const std::string fresh = file("fresh.dat");
  const std::vector<Case> cases = {
      {"add: one new, one present",
       {"add", "-k", "S", "--json", list, kC, kA},
       "",
       {{"created", "false"},
        {"added.0", "\"" + std::string(kC) + "\""},
        {"unchanged.0", "\"" + std::string(kA) + "\""},
        {"removed.length", "0"},
        {"updated.length", "0"},
        {"count", "3"},
        {"dry_run", "false"}}},
      {"add creating a list",
       {"add", "-k", "S", "--create", "-j", fresh, kA},
       "",
       {{"created", "true"}, {"added.length", "1"}, {"count", "1"}}},
      {"remove: one listed, one not",
       {"remove", "-k", "S", "--json", list, kC, "00:00:5e:00:53:01"},
       "",
       {{"removed.0", "\"" + std::string(kC) + "\""},
        {"unchanged.0", "\"00:00:5e:00:53:01\""},
        {"added.length", "0"},
        {"count", "2"}}},
      {"pack over the list: what it adds and removes",
       {"pack", "-k", "S", "--json", "-", list},
       std::string(kC) + "\n" + kB + "\n",
       {{"created", "false"},
        {"added.0", "\"" + std::string(kC) + "\""},
        {"removed.0", "\"" + std::string(kA) + "\""},
        {"removed.length", "1"},
        {"count", "2"}}},
      {"pack of a new list",
       {"pack", "-k", "S", "--json", "-", file("new.dat")},
       "3C:22:FB:00:00:07\n",
       {{"created", "true"}, {"added.0", "\"" + std::string(kC) + "\""}, {"count", "1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const JsonFields json = run(c.args[0], {c.args.begin() + 1, c.args.end()}, 0, c.input);
    for (const auto& [key, value] : c.fields) {
      EXPECT_EQ(json.at(key), value) << key;
    }
  }
}

// test's status stays the one scripts use in 'if'; the document carries
// ADRVET's own answer, compared here with ADRVET run on the same list.
TEST_F(Json, TestGivesAdrvetsAnswer) {
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", file("dir")}, std::string(kA) + "\n").exit_status,
            0);
  ASSERT_EQ(::mkdir(file("broken").c_str(), 0700), 0);
  write_file(file("broken/engine.dat"), "not a protected list");
  struct Case {
    const char* what;
    std::string list;
    std::string address;
    int status;
    std::string listed;
  };
  const std::vector<Case> cases = {
      {"listed, as written on the list", file("dir"), kA, 0, "true"},
      {"listed, in another notation", file("dir") + "/", "02-00-00-00-00-01", 0, "true"},
      {"not listed", file("dir"), kC, 1, "false"},
      {"a malformed address", file("dir"), "02:00:00:00:00", 2, "null"},
      {"an address longer than ADRVET takes", file("dir"), std::string(64, '0'), 2, "null"},
      {"no list there", file("none"), kA, 2, "null"},
      {"a damaged list", file("broken"), kA, 2, "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const JsonFields json = run("test", {"-k", "S", "--json", c.list, c.address}, c.status);
    EXPECT_EQ(json.at("list"), "\"" + c.list + "\"");
    EXPECT_EQ(json.at("address"), "\"" + c.address + "\"");
    EXPECT_EQ(json.at("listed"), c.listed);
    // ADRVET's exit status is its answer modulo 256.
    const ProcessResult adrvet = adrvet_test::run_process(ADRVET_BINARY, {"S", c.list, c.address});
    const int answer = adrvet.exit_status > 127 ? adrvet.exit_status - 256 : adrvet.exit_status;
    EXPECT_EQ(json.at("answer"), std::to_string(answer)) << adrvet.err;
    EXPECT_EQ(c.status == 2, last_err_.find("ADRVET answers") != std::string::npos) << last_err_;
    // Without --json, the same status and nothing on standard output.
    const ProcessResult plain = list_tool({"test", "-k", "S", c.list, c.address});
    EXPECT_EQ(plain.exit_status, c.status);
    EXPECT_EQ(plain.out, "");
  }
}

TEST_F(Json, UsageErrorsPrintNoDocument) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"verify", "--json", file("list.dat")},
           {"export", "-k", "S", "--json", file("list.dat")},
           {"unpack", "-k", "S", "--json", file("list.dat")},
       }) {
    const ProcessResult result = list_tool(args);
    EXPECT_EQ(result.exit_status, 2) << args[0];
    EXPECT_EQ(result.out, "") << args[0];
  }
}

}  // namespace
