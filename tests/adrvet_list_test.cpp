// adrvet-list run as a process: every command's success path and failures,
// and agreement with ADRVET itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>

#include "crypto/crypto.h"
#include "crypto/key_versions.h"
#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::file_exists;
using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::read_file;
using adrvet_test::to_bytes;
using adrvet_test::write_file;

int adrvet(const std::string& key, const std::string& dir, const std::string& mac) {
  return adrvet_test::run_process(ADRVET_BINARY, {key, dir, mac}).exit_status;
}

std::string text_of(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

using adrvet_test::hex12;

std::string colon(std::uint64_t v) { return adrvet_test::colon_address(v); }

// A list written by the library's own writer, for damaged and unsorted cases.
void write_raw_list(const std::string& path, const std::string& payload, int version = 1) {
  write_file(path + ".plain", payload);
  ASSERT_TRUE(orbitforge::util::encrypt_file((path + ".plain").c_str(), path.c_str(),
                                             orbitforge::util::key_for_version(version)));
}

class ListTool : public adrvet_test::ListToolTest {
 protected:
  std::string unpack(const std::string& list, const std::string& key = "S") {
    const auto result = list_tool({"unpack", "-k", key, list});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return result.out;
  }
};

TEST_F(ListTool, PackNormalisesSortsAndDropsDuplicates) {
  write_file(file("in.txt"), std::string("# office\n"
                                         "  AA-BB-CC-DD-EE-F0   # printer\n"
                                         "\n"
                                         "00:11:22:33:44:55\r\n"
                                         "001122334455\n"
                                         "0011.2233.4466\n"
                                         "\t00:11:22:33:44:54"));
  ::mkdir(file("list").c_str(), 0755);
  const auto result = list_tool({"pack", "-k", "S", file("in.txt"), file("list")});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(
      result.err.find("wrote 4 addresses to " + file("list") + "/engine.dat (1 duplicate dropped)"),
      std::string::npos)
      << result.err;
  EXPECT_EQ(unpack(file("list")),
            "00:11:22:33:44:54\n00:11:22:33:44:55\n00:11:22:33:44:66\naa:bb:cc:dd:ee:f0\n");
  EXPECT_EQ(adrvet("S", file("list"), "aa:bb:cc:dd:ee:f0"), 1);
}

// Enough addresses for the radix sort, in every notation pack reads: spread
// over the whole range, clustered under one vendor prefix, and repeated.
TEST_F(ListTool, PackSortsManyAddressesInAnyNotation) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 29);
  std::vector<std::uint64_t> expected;
  std::string input;
  for (int i = 0; i < 30000; ++i) {
    const std::uint64_t value =
        i % 3 == 0 ? rng() % (std::uint64_t{1} << 48U)
                   : 0x525400000000ULL + rng() % (i % 3 == 1 ? 4096 : (std::uint64_t{1} << 24U));
    expected.push_back(value);
    const std::string hex = hex12(value);
    switch (i % 5) {
      case 0:
        input += colon(value) + "\n";
        break;
      case 1:
        input += hex + "\r\n";
        break;
      case 2:
        input += hex.substr(0, 4) + "." + hex.substr(4, 4) + "." + hex.substr(8) + "\n";
        break;
      case 3:
        input += "  " + colon(value) + "  # note\n";
        break;
      default:
        input += hex.substr(0, 2) + "-" + hex.substr(2, 2) + ":" + hex.substr(4, 2) + "-" +
                 hex.substr(6, 2) + ":" + hex.substr(8, 2) + "-" + hex.substr(10) + "\n";
        break;
    }
  }
  ASSERT_EQ(list_tool({"pack", "-k", "S", "--quiet", "-", file("c.dat")}, input).exit_status, 0);
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  std::string text;
  for (const std::uint64_t v : expected) {
    text += colon(v) + "\n";
  }
  EXPECT_EQ(unpack(file("c.dat")), text);
}

TEST_F(ListTool, PackReadsStandardInput) {
  const auto result = list_tool({"pack", "-k", "U", "-", file("c.dat")}, "52:54:00:12:34:56\n");
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(unpack(file("c.dat"), "U"), "52:54:00:12:34:56\n");
}

TEST_F(ListTool, PackReportsEveryInvalidLineAndWritesNothing) {
  write_file(file("in.txt"), std::string("00:11:22:33:44:55\n"
                                         "zz:11:22:33:44:55\n"
                                         "112233\n"
                                         "00:11:22:33:44:55:66\n"
                                         "00:11:22:33:44:55 00:11:22:33:44:56\n"));
  write_file(file("old.dat"), std::string("previous"));
  const auto result = list_tool({"pack", "-k", "S", file("in.txt"), file("old.dat")});
  EXPECT_EQ(result.exit_status, 1);
  const std::string in = file("in.txt");
  for (const std::string& expected :
       {in + ":2: not a hex digit or separator: 'zz:11:22:33:44:55'",
        in + ":3: too few hex digits (need 12): '112233'",
        in + ":4: too many hex digits (need 12): '00:11:22:33:44:55:66'",
        in + ":5: more than one word on the line: '00:11:22:33:44:55 00:11:22:33:44:56'",
        in + ": 4 invalid lines; nothing written"}) {
    EXPECT_NE(result.err.find("adrvet-list: " + expected + "\n"), std::string::npos)
        << "missing: " << expected << "\nin:\n"
        << result.err;
  }
  EXPECT_EQ(read_file(file("old.dat")), to_bytes("previous"));
  EXPECT_EQ(adrvet_test::list_directory(dir_.path()).size(), 2U);
}

TEST_F(ListTool, PackCapsTheReportAtTwentyLines) {
  std::string input;
  for (int i = 0; i < 25; ++i) {
    input += "bad\n";
  }
  const auto result = list_tool({"pack", "-k", "S", "-", file("c.dat")}, input);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 22);
  EXPECT_NE(result.err.find("... and 5 more invalid lines"), std::string::npos);
  EXPECT_FALSE(file_exists(file("c.dat")));
}

TEST_F(ListTool, PackWarnsAboutUnusualAddresses) {
  const std::string input =
      "00:00:00:00:00:00\nff:ff:ff:ff:ff:ff\n01:00:5e:00:00:01\n02:00:00:00:00:01\n00:11:22:33:44:"
      "55\n";
  const auto loud = list_tool({"pack", "-k", "S", "-", file("c.dat")}, input);
  EXPECT_EQ(loud.exit_status, 0);
  for (const char* expected :
       {"-:1: all-zero address", "-:2: broadcast address", "-:3: multicast address",
        "-: 1 locally administered address (virtual machines, randomised "
        "phones): 02:00:00:00:00:01\n"}) {
    EXPECT_NE(loud.err.find(std::string("warning: ") + expected), std::string::npos) << expected;
  }
  const auto quiet = list_tool({"pack", "-k", "S", "--quiet", "-", file("c.dat")}, input);
  EXPECT_EQ(quiet.exit_status, 0);
  EXPECT_EQ(quiet.err.find("warning"), std::string::npos) << quiet.err;
}

TEST_F(ListTool, UsageErrors) {
  write_file(file("in.txt"), std::string("00:11:22:33:44:55\n"));
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"pack", file("in.txt"), file("c.dat")},                                // no key
      {"pack", "-k", "X", file("in.txt"), file("c.dat")},                     // bad key
      {"pack", "-k", "S", "-k", "U", file("in.txt"), file("c.dat")},          // given twice
      {"pack", "-k", "S", "--format", "nft", file("in.txt"), file("c.dat")},  // not for pack
      {"pack", "-k", "S", "--bogus", file("in.txt"), file("c.dat")},
      {"pack", "-k", "S", file("in.txt")},                  // missing DEST
      {"pack", "-k", "S", file("in.txt"), file("in.txt")},  // DEST is INPUT
      {"export", "-k", "S", "--format", "xml", file("c.dat")},
      {"export", "-k", "S", "--format", "nft", "--name", "bad name", file("c.dat")},
      {"rekey", "-k", "S", file("c.dat")},  // no --to
      {"check", "-k", "S"},
  };
  for (const auto& args : cases) {
    const auto result = list_tool(args);
    std::string shown;
    for (const auto& a : args) {
      shown += " " + a;
    }
    EXPECT_EQ(result.exit_status, 2) << shown;
    EXPECT_EQ(result.out, "") << shown;
    EXPECT_EQ(result.err.rfind("adrvet-list: ", 0), 0U) << shown << ": " << result.err;
  }
  EXPECT_EQ(read_file(file("in.txt")), to_bytes("00:11:22:33:44:55\n"));
}

TEST_F(ListTool, MessagesNameTheOptionAsTyped) {
  write_file(file("in.txt"), std::string("00:11:22:33:44:55\n"));
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{"export", "-k", "S", "--format"}, "export: option --format needs a value"},
      {{"rekey", "-k", "S", "--to"}, "rekey: option --to needs a value"},
      {{"diff", "-k", "S", "--key-b"}, "diff: option --key-b needs a value"},
      {{"add", "-k"}, "add: option -k needs a value"},
      {{"pack", "--bogus=1", "x", "y"}, "pack: unknown option '--bogus'"},
      {{"pack", "-z", "x", "y"}, "pack: unknown option '-z'"},
      {{"pack", "-k", "S", "--key", "U", "x", "y"}, "pack: option --key given twice"},
      {{"pack", "--key", "S", "--to", "U", "x", "y"}, "pack: option --to does not apply"},
      {{"pack", "--key", "X", "x", "y"}, "pack: --key takes a key version, S or U, not 'X'"},
      {{"add", "-k", "S", "--wait", "soon", "x", "y"}, "add: --wait takes a number of seconds"},
  };
  for (const Case& c : cases) {
    const auto result = list_tool(c.args);
    EXPECT_EQ(result.exit_status, 2) << c.says;
    EXPECT_NE(result.err.find("adrvet-list: " + c.says), std::string::npos)
        << c.says << "\ngot: " << result.err;
  }
}

TEST_F(ListTool, HelpAndVersionThatCannotBeWrittenSaySo) {
  if (!adrvet_test::file_exists("/dev/full")) {
    GTEST_SKIP() << "/dev/full is missing";
  }
  for (const char* args : {"--help", "--version", "pack --help"}) {
    const auto result = adrvet_test::run_process(
        "/bin/sh", {"-c", std::string(ADRVET_LIST_BINARY) + " " + args + " > /dev/full"});
    EXPECT_EQ(result.exit_status, 1) << args;
    EXPECT_NE(result.err.find("cannot write to standard output"), std::string::npos)
        << args << ": " << result.err;
  }
}

TEST_F(ListTool, HelpAndVersion) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"}, {"pack", "--help"}, {"check", "-h"}}) {
    const auto result = list_tool(args);
    EXPECT_EQ(result.exit_status, 0) << args[0];
    EXPECT_NE(result.out.find("Usage: adrvet-list"), std::string::npos) << args[0];
  }
  const auto version = list_tool({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out.rfind("adrvet-list ", 0), 0U);
}

TEST_F(ListTool, RoundTripWithAdrvet) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  std::set<std::uint64_t> packed;
  std::string input;
  while (packed.size() < 2000) {
    const std::uint64_t v = rng() & 0xFFFFFFFFFFFFULL;
    packed.insert(v);
    input += (rng() % 2 == 0 ? colon(v) : hex12(v)) + "\n";
  }
  ::mkdir(file("list").c_str(), 0755);
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", file("list")}, input).exit_status, 0);
  std::vector<std::uint64_t> values(packed.begin(), packed.end());
  for (int i = 0; i < 15; ++i) {
    const std::uint64_t hit = values[rng() % values.size()];
    EXPECT_EQ(adrvet("S", file("list"), colon(hit)), 1) << colon(hit);
    std::uint64_t miss = rng() & 0xFFFFFFFFFFFFULL;
    while (packed.count(miss) != 0) {
      miss = (miss + 1) & 0xFFFFFFFFFFFFULL;
    }
    EXPECT_EQ(adrvet("S", file("list"), colon(miss)), 0) << colon(miss);
  }
}

TEST_F(ListTool, ExportFormats) {
  ASSERT_EQ(
      list_tool({"pack", "-k", "S", "-", file("c.dat")}, "AA:BB:CC:DD:EE:0F\n00:11:22:33:44:55\n")
          .exit_status,
      0);
  const struct {
    std::vector<std::string> options;
    std::string expected;
  } cases[] = {
      {{}, "00:11:22:33:44:55\naa:bb:cc:dd:ee:0f\n"},
      {{"--format", "plain"}, "00:11:22:33:44:55\naa:bb:cc:dd:ee:0f\n"},
      {{"--format", "hostapd"}, "00:11:22:33:44:55\naa:bb:cc:dd:ee:0f\n"},
      {{"--format", "dnsmasq"}, "dhcp-host=00:11:22:33:44:55\ndhcp-host=aa:bb:cc:dd:ee:0f\n"},
      {{"--format", "dnsmasq-hosts"}, "00:11:22:33:44:55\naa:bb:cc:dd:ee:0f\n"},
      {{"--format", "ipset", "--name", "lab_macs"},
       "# If ipset stops at the next line (\"set with the same name already exists\"), "
       "lab_macs exists with other settings: ipset create lab_macs-new hash:mac hashsize 1024 "
       "maxelem 16777216; ipset swap lab_macs-new lab_macs; ipset destroy lab_macs-new; then "
       "restore again\n"
       "create lab_macs hash:mac hashsize 1024 maxelem 16777216 -exist\n"
       "create lab_macs-new hash:mac hashsize 1024 maxelem 16777216 -exist\n"
       "flush lab_macs-new\nadd lab_macs-new 00:11:22:33:44:55\nadd lab_macs-new "
       "aa:bb:cc:dd:ee:0f\nswap lab_macs-new lab_macs\ndestroy lab_macs-new\n"},
      {{"--format", "nft", "--family", "bridge", "--table", "lan", "--name", "macs"},
       "table bridge lan {\n\tset macs { # \"File exists\" here: a set macs with other flags "
       "exists; nft delete set bridge lan macs (or export --name ANOTHER), then load again\n"
       "\t\ttype ether_addr\n\t}\n}\n"
       "flush set bridge lan macs\nadd element bridge lan macs {\n\t00:11:22:33:44:55,\n"
       "\taa:bb:cc:dd:ee:0f\n}\n"},
      {{"--format", "freeradius"}, "00-11-22-33-44-55\nAA-BB-CC-DD-EE-0F\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"export", "-k", "S"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(file("c.dat"));
    const auto result = list_tool(args);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, c.expected) << (c.options.empty() ? "default" : c.options[1]);
  }
  // nft refuses an empty element list, so an empty set has none.
  ASSERT_EQ(list_tool({"pack", "-k", "S", "--allow-empty", "-", file("empty.dat")}, "# nothing\n")
                .exit_status,
            0);
  const auto empty = list_tool({"export", "-k", "S", "--format", "nft", file("empty.dat")});
  EXPECT_EQ(empty.out,
            "table inet adrvet {\n\tset adrvet { # \"File exists\" here: a set adrvet with other "
            "flags exists; nft delete set inet adrvet adrvet (or export --name ANOTHER), then "
            "load again\n\t\ttype ether_addr\n\t}\n}\n"
            "flush set inet adrvet adrvet\n");
  EXPECT_EQ(empty.exit_status, 0);
  // Loaded, it empties the peer's set: that is said, for every format.
  EXPECT_NE(empty.err.find("holds no address; the export empties the peer's list"),
            std::string::npos)
      << empty.err;
}

TEST_F(ListTool, ExportKeepsFileOrder) {
  write_raw_list(file("unsorted.dat"), "aa:bb:cc:dd:ee:ff\n00:00:00:00:00:01\n");
  EXPECT_EQ(list_tool({"export", "-k", "S", file("unsorted.dat")}).out,
            "aa:bb:cc:dd:ee:ff\n00:00:00:00:00:01\n");
}

TEST_F(ListTool, Diff) {
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", file("a.dat")},
                      "00:00:00:00:00:01\n00:00:00:00:00:02\n00:00:00:00:00:03\n")
                .exit_status,
            0);
  ASSERT_EQ(list_tool({"pack", "-k", "U", "-", file("b.dat")},
                      "00:00:00:00:00:02\n00:00:00:00:00:04\n00:00:00:00:00:03\n")
                .exit_status,
            0);
  const auto differ = list_tool({"diff", "-k", "S", "--key-b", "U", file("a.dat"), file("b.dat")});
  EXPECT_EQ(differ.exit_status, 1);
  EXPECT_EQ(differ.out, "-00:00:00:00:00:01\n+00:00:00:00:00:04\n");
  const auto same = list_tool({"diff", "-k", "S", file("a.dat"), file("a.dat")});
  EXPECT_EQ(same.exit_status, 0);
  EXPECT_EQ(same.out, "");
  const auto unusable = list_tool({"diff", "-k", "S", file("a.dat"), file("b.dat")});
  EXPECT_EQ(unusable.exit_status, 2);
  EXPECT_NE(unusable.err.find("ADRVET would answer -3"), std::string::npos) << unusable.err;
}

TEST_F(ListTool, UnpackGivesThePayloadByteForByte) {
  const std::string payload = "AA-BB-CC-DD-EE-FF\r\n00:11:22:33:44:55";
  write_raw_list(file("c.dat"), payload);
  EXPECT_EQ(unpack(file("c.dat")), payload);
  EXPECT_EQ(list_tool({"unpack", "-k", "S", file("c.dat"), file("out.txt")}).exit_status, 0);
  EXPECT_EQ(text_of(read_file(file("out.txt"))), payload);
  const auto wrong = list_tool({"unpack", "-k", "U", file("c.dat"), file("wrong.txt")});
  EXPECT_EQ(wrong.exit_status, 1);
  EXPECT_FALSE(file_exists(file("wrong.txt")));
}

TEST_F(ListTool, VerifyNamesWhatAdrvetWouldRunInto) {
  write_raw_list(file("ok.dat"), "00:00:00:00:00:01\n00:00:00:00:00:01\n00:00:00:00:00:02\n");
  write_raw_list(file("unsorted.dat"), "00:00:00:00:00:02\n00:00:00:00:00:01\n");
  write_raw_list(file("length.dat"), "00:00:00:00:00:0\n");
  write_raw_list(file("digit.dat"), "00:00:00:00:00:01\n00:00:00:00:00:0g\n");
  write_raw_list(file("other_key.dat"), "00:00:00:00:00:01\n", 2);
  write_file(file("short.dat"), std::string("Orbit"));
  ::mkdir(file("dir_without_list").c_str(), 0755);
  const struct {
    std::string list;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {"ok.dat", 0, "ok: 3 addresses\n", "1 duplicate entry (harmless)"},
      {"unsorted.dat", 1, "", "entry 2 (00:00:00:00:00:01) comes after 00:00:00:00:00:02"},
      {"length.dat", 1, "", "ADRVET would answer -4"},
      {"digit.dat", 1, "", "ADRVET would answer -5: entry 2 (line 2, byte 18)"},
      {"other_key.dat", 1, "", "ADRVET would answer -3: wrong key"},
      {"short.dat", 1, "", "ADRVET would answer -2: too short"},
      {"missing.dat", 1, "", "ADRVET would answer -1: cannot be opened"},
      {"dir_without_list", 1, "", "dir_without_list/engine.dat: ADRVET would answer -1"},
  };
  for (const auto& c : cases) {
    const auto result = list_tool({"verify", "-k", "S", file(c.list)});
    EXPECT_EQ(result.exit_status, c.status) << c.list;
    EXPECT_EQ(result.out, c.out) << c.list;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << c.list << ": " << result.err;
  }
}

TEST_F(ListTool, AddAndRemoveKeepTheListValid) {
  ::mkdir(file("list").c_str(), 0755);
  const auto created = list_tool({"add", "-k", "S", "--create", file("list"), "00:00:00:00:00:05",
                                  "00:00:00:00:00:01", "0000.0000.0003"});
  EXPECT_EQ(created.exit_status, 0) << created.err;
  EXPECT_NE(created.err.find("added 3 addresses (new list)"), std::string::npos) << created.err;
  const auto again =
      list_tool({"add", "-k", "S", file("list"), "00-00-00-00-00-03", "00:00:00:00:00:04"});
  EXPECT_EQ(again.exit_status, 0);
  EXPECT_NE(again.err.find("added 1 address\n"), std::string::npos) << again.err;
  EXPECT_NE(again.err.find("already present: 00:00:00:00:00:03"), std::string::npos) << again.err;
  const auto removed =
      list_tool({"remove", "-k", "S", file("list"), "00:00:00:00:00:05", "00:00:00:00:00:09"});
  EXPECT_EQ(removed.exit_status, 0);
  EXPECT_NE(removed.err.find("removed 1 address\n"), std::string::npos) << removed.err;
  EXPECT_NE(removed.err.find("not on the list: 00:00:00:00:00:09"), std::string::npos);
  EXPECT_EQ(unpack(file("list")), "00:00:00:00:00:01\n00:00:00:00:00:03\n00:00:00:00:00:04\n");
  EXPECT_EQ(list_tool({"verify", "-k", "S", file("list")}).exit_status, 0);
  EXPECT_EQ(adrvet("S", file("list"), "00:00:00:00:00:04"), 1);
  EXPECT_EQ(adrvet("S", file("list"), "00:00:00:00:00:05"), 0);

  const auto invalid = list_tool({"add", "-k", "S", file("list"), "00:00:00:00:00:06", "nope"});
  EXPECT_EQ(invalid.exit_status, 1);
  EXPECT_EQ(adrvet("S", file("list"), "00:00:00:00:00:06"), 0);  // nothing written
  EXPECT_EQ(list_tool({"remove", "-k", "S", file("missing.dat"), "00:00:00:00:00:01"}).exit_status,
            1);
  EXPECT_EQ(list_tool({"add", "-k", "U", file("list"), "00:00:00:00:00:07"}).exit_status, 1);
}

TEST_F(ListTool, AddSortsAnUntidyList) {
  write_raw_list(file("c.dat"), "00:00:00:00:00:02\n00:00:00:00:00:01\n00:00:00:00:00:02\n");
  EXPECT_EQ(list_tool({"add", "-k", "S", file("c.dat"), "00:00:00:00:00:02"}).exit_status, 0);
  EXPECT_EQ(unpack(file("c.dat")), "00:00:00:00:00:01\n00:00:00:00:00:02\n");
}

TEST_F(ListTool, KeepsPermissionBits) {
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", file("c.dat")}, "00:00:00:00:00:01\n").exit_status,
            0);
  ASSERT_EQ(::chmod(file("c.dat").c_str(), 0640), 0);
  ASSERT_EQ(list_tool({"add", "-k", "S", file("c.dat"), "00:00:00:00:00:02"}).exit_status, 0);
  struct stat status {};
  ASSERT_EQ(::stat(file("c.dat").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640U);
}

TEST_F(ListTool, Rekey) {
  ::mkdir(file("list").c_str(), 0755);
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", file("list")}, "00:00:00:00:00:01\n").exit_status,
            0);
  ::mkdir(file("copy").c_str(), 0755);
  EXPECT_EQ(list_tool({"rekey", "-k", "S", "--to", "U", file("list"), file("copy")}).exit_status,
            0);
  EXPECT_EQ(adrvet("U", file("copy"), "00:00:00:00:00:01"), 1);
  EXPECT_EQ(adrvet("S", file("list"), "00:00:00:00:00:01"), 1);
  EXPECT_EQ(list_tool({"rekey", "-k", "S", "--to", "U", file("list")}).exit_status, 0);
  EXPECT_EQ(adrvet("U", file("list"), "00:00:00:00:00:01"), 1);
  EXPECT_EQ(adrvet("S", file("list"), "00:00:00:00:00:01"), 253);
  EXPECT_EQ(list_tool({"rekey", "-k", "S", "--to", "U", file("list")}).exit_status, 1);
}

TEST_F(ListTool, CheckAgreesWithAdrvet) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  ::mkdir(file("list").c_str(), 0755);
  std::string input;
  std::vector<std::uint64_t> listed;
  for (int i = 0; i < 300; ++i) {
    listed.push_back(rng() % 1000);  // a small range, so that random probes hit
    input += colon(listed.back()) + "\n";
  }
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", file("list")}, input).exit_status, 0);
  std::vector<std::string> probes = {"",
                                     ":::",
                                     "aabb.ccdd.eeff",
                                     "gg:00:00:00:00:01",
                                     "000000000001000000000002",
                                     "00:00:00:00:00:01\r",
                                     std::string(64, '0')};
  for (int i = 0; i < 30; ++i) {
    probes.push_back(rng() % 2 == 0 ? colon(rng() % 1000) : hex12(rng() % 1000));
  }
  std::vector<std::string> args = {"check", "-k", "S", file("list")};
  std::string stdin_text;
  for (const auto& p : probes) {
    if (p.find('\r') == std::string::npos) {
      args.push_back(p);
    }
    stdin_text += p + "\n";
  }
  const auto from_args = list_tool(args);
  const auto from_stdin = list_tool({"check", "-k", "S", file("list")}, stdin_text);
  EXPECT_EQ(from_args.exit_status, 0);
  EXPECT_EQ(from_stdin.exit_status, 0);
  std::string expected_args;
  std::string expected_stdin;
  for (const auto& p : probes) {
    const int status = adrvet("S", file("list"), p);
    const int code = status > 127 ? status - 256 : status;
    std::string shown = p;
    if (!shown.empty() && shown.back() == '\r') {
      shown.pop_back();
    }
    const std::string line = shown + "\t" + std::to_string(code) + "\n";
    if (!p.empty()) {  // a blank line of standard input is skipped, as pack skips it
      expected_stdin += line;
    }
    if (p.find('\r') == std::string::npos) {
      expected_args += line;
    }
  }
  EXPECT_EQ(from_args.out, expected_args);
  EXPECT_EQ(from_stdin.out, expected_stdin);
  const auto unusable = list_tool({"check", "-k", "U", file("list"), "00:00:00:00:00:01"});
  EXPECT_EQ(unusable.exit_status, 1);
  EXPECT_NE(unusable.err.find("ADRVET would answer -3"), std::string::npos);
}

// A cluster of addresses far from the rest, as lists of one vendor beside a
// stray address give: many entries under one prefix of the lookup table,
// and probes on either side of every entry and of the list's ends.
TEST_F(ListTool, CheckFollowsAdrvetOnAClusteredList) {
  ::mkdir(file("list").c_str(), 0755);
  std::string input;
  for (std::uint64_t v = 10; v < 210; v += 2) {
    input += colon(v) + "\n";
  }
  input += "ff:ff:ff:ff:ff:fe\n";
  ASSERT_EQ(list_tool({"pack", "-k", "S", "--quiet", "-", file("list")}, input).exit_status, 0);
  std::vector<std::string> probes = {
      "ff:ff:ff:ff:ff:fe", "ff:ff:ff:ff:ff:ff", "ff-ff-ff-ff-ff-fd",
      "FFFFFFFFFFFE",      "00:00:00:00:00:00", "00.00.00.00.00.0a",
      "00:00:00:00:00:0g", "00:00:00:00:00:0",  "00:00:00:00:00:0a:"};
  for (std::uint64_t v = 0; v < 215; v += 3) {
    probes.push_back(v % 2 == 0 ? colon(v) : hex12(v));
  }
  std::vector<std::string> args = {"check", "-k", "S", file("list")};
  args.insert(args.end(), probes.begin(), probes.end());
  std::string expected;
  for (const auto& p : probes) {
    const int status = adrvet("S", file("list"), p);
    expected += p + "\t" + std::to_string(status > 127 ? status - 256 : status) + "\n";
  }
  EXPECT_EQ(list_tool(args).out, expected);
}

TEST_F(ListTool, CheckFollowsAdrvetOnAnUnsortedList) {
  write_raw_list(file("c.dat"), "aa:bb:cc:dd:ee:ff\n00:00:00:00:00:01\n00:00:00:00:00:02\n");
  ::mkdir(file("d").c_str(), 0755);
  ASSERT_EQ(::rename(file("c.dat").c_str(), file("d/engine.dat").c_str()), 0);
  std::vector<std::string> probes = {"aa:bb:cc:dd:ee:ff", "00:00:00:00:00:01", "00:00:00:00:00:02"};
  std::string expected;
  for (const auto& p : probes) {
    expected += p + "\t" + std::to_string(adrvet("S", file("d"), p)) + "\n";
  }
  std::vector<std::string> args = {"check", "-k", "S", file("d")};
  args.insert(args.end(), probes.begin(), probes.end());
  EXPECT_EQ(list_tool(args).out, expected);
}

TEST_F(ListTool, DigestMatchesSha256sum) {
  write_file(file("a b.txt"), std::string("hello\n"));
  write_file(file("empty"), Bytes{});
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", file("c.dat")}, "00:00:00:00:00:01\n").exit_status,
            0);
  const std::vector<std::string> files = {file("a b.txt"), file("empty"), file("c.dat")};
  std::vector<std::string> args = {"digest"};
  args.insert(args.end(), files.begin(), files.end());
  const auto ours = list_tool(args);
  const auto theirs = adrvet_test::run_process("/usr/bin/sha256sum", files);
  EXPECT_EQ(ours.exit_status, 0);
  EXPECT_EQ(ours.out, theirs.out);
  write_file(file("sums"), ours.out);
  EXPECT_EQ(
      adrvet_test::run_process("/usr/bin/sha256sum", {"-c", "--quiet", file("sums")}).exit_status,
      0);
  const auto missing = list_tool({"digest", file("missing"), file("empty")});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(missing.out,
            theirs.out.substr(theirs.out.find('\n') + 1, 66 + file("empty").size() + 1));
}

// Both programs start often: a run loads libc and nothing else (the C++
// runtime is linked in), in particular not libm.
TEST(Linking, ProgramsNeedOnlyLibc) {
  for (const char* program : {ADRVET_BINARY, ADRVET_LIST_BINARY}) {
    const auto result = adrvet_test::run_process("/usr/bin/readelf", {"-d", program});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    std::vector<std::string> needed;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
      const std::size_t open = line.find("(NEEDED)");
      if (open != std::string::npos) {
        const std::size_t start = line.find('[');
        needed.push_back(line.substr(start + 1, line.find(']') - start - 1));
      }
    }
    for (const std::string& library : needed) {
      // Sanitized builds keep the C++ runtime shared, which brings libm.
      if (!ADRVET_SANITIZED) {
        EXPECT_EQ(library.rfind("libm.", 0), std::string::npos) << program << " needs " << library;
        EXPECT_TRUE(library == "libc.so.6" || library.rfind("ld-linux", 0) == 0)
            << program << " needs " << library;
      }
    }
  }
}

}  // namespace
