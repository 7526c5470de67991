// The inventory as administrators use it, through adrvet-list itself:
// names and expiries in and out, prune, rekey, diff and verify, lists made
// before inventories existed, hostile labels and times, damage, and the
// audit line in the system log, received on a socket of the test's own.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <pwd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

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
using adrvet_test::lines_of;
using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::TempDir;
using adrvet_test::write_file;

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) {
      return fields;
    }
    start = tab + 1;
  }
}

std::string iso(std::time_t t) {
  char text[32];
  std::tm parts{};
  ::gmtime_r(&t, &parts);
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// Writes an inventory payload as the list's inventory, as a stopped or
// foreign writer might have left it.
void write_inventory(const std::string& list_dir, const Inventory& inventory, int version = 1) {
  const orbitforge::util::SecretBytes payload = inventory.serialize();
  ASSERT_TRUE(orbitforge::util::write_container((list_dir + "/engine.dat.inventory").c_str(),
                                                payload.data(), payload.size(),
                                                orbitforge::util::key_for_version(version)));
}

class Inventories : public adrvet_test::ListToolTest {
 protected:
  void SetUp() override {
    list_ = dir_.file("list");
    ASSERT_EQ(::mkdir(list_.c_str(), 0750), 0);
  }
  // show's lines split into fields.
  std::vector<std::vector<std::string>> show(const std::string& key = "S") {
    const auto result = list_tool({"show", "-k", key, list_});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : lines_of(result.out)) {
      rows.push_back(fields_of(line));
    }
    return rows;
  }
  std::string list_;
};

TEST_F(Inventories, NamesExpiriesAndOriginsRoundTrip) {
  const std::time_t before = std::time(nullptr);
  ::setenv("SUDO_USER", "alice", 1);
  auto result =
      list_tool({"add", "-k", "S", "--create", "--label", "Zo\xC3\xAB's \"phone\"; #1", "--expires",
                 "2030-06-30", list_, "3c:22:fb:12:34:56", "00:11:22:33:44:55"});
  ::unsetenv("SUDO_USER");
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const std::time_t after = std::time(nullptr);
  result = list_tool({"add", "-k", "S", list_, "aa:bb:cc:00:00:01"});
  ASSERT_EQ(result.exit_status, 0) << result.err;

  const auto rows = show();
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_EQ(rows[0][0], "00:11:22:33:44:55");
  EXPECT_EQ(rows[1][0], "3c:22:fb:12:34:56");
  EXPECT_EQ(rows[2][0], "aa:bb:cc:00:00:01");
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(rows[i].size(), 5U);
    EXPECT_EQ(rows[i][1], "2030-06-30T23:59:59Z");
    EXPECT_TRUE(rows[i][2] >= iso(before) && rows[i][2] <= iso(after)) << rows[i][2];
    EXPECT_EQ(rows[i][3], "root (sudo: alice)");
    EXPECT_EQ(rows[i][4], "Zo\xC3\xAB's \"phone\"; #1");
  }
  EXPECT_EQ(rows[2][1], "-");
  EXPECT_EQ(rows[2][3], "root");
  EXPECT_EQ(rows[2][4], "-");

  // On a listed address the options change the entry and say so; the
  // origin stays.
  result = list_tool({"add", "-k", "S", "--label", "printer", "--expires", "never", list_,
                      "00:11:22:33:44:55", "aa:bb:cc:00:00:01"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.err.find("added 0 addresses"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("label or expiry changed: 00:11:22:33:44:55 aa:bb:cc:00:00:01"),
            std::string::npos)
      << result.err;
  const auto changed = show();
  EXPECT_EQ(changed[0][1], "-");
  EXPECT_EQ(changed[0][3], "root (sudo: alice)");
  EXPECT_EQ(changed[0][4], "printer");
  EXPECT_EQ(changed[1], rows[1]);
  EXPECT_EQ(changed[2][4], "printer");
  // An empty label removes it.
  ASSERT_EQ(list_tool({"add", "-k", "S", "--label", "", list_, "aa:bb:cc:00:00:01"}).exit_status,
            0);
  EXPECT_EQ(show()[2][4], "-");

  // What ADRVET reads is the list alone, as before.
  EXPECT_EQ(list_tool({"unpack", "-k", "S", list_}).out,
            "00:11:22:33:44:55\n3c:22:fb:12:34:56\naa:bb:cc:00:00:01\n");
  // No label reaches the disk in plain text.
  for (const std::string& name : adrvet_test::list_directory(list_)) {
    const adrvet_test::Bytes bytes = adrvet_test::read_file(list_ + "/" + name);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("printer"), std::string::npos) << name;
  }
}

struct RefusedCase {
  std::vector<std::string> options;
  std::string message;
};

TEST_F(Inventories, BadLabelsAndTimesChangeNothing) {
  pack(list_, "00:11:22:33:44:55\n");
  ASSERT_EQ(
      list_tool({"add", "-k", "S", "--label", "keep", list_, "00:11:22:33:44:55"}).exit_status, 0);
  const auto before = show();
  const std::vector<RefusedCase> cases = {
      {{"--label", "two\nlines"}, "control character"},
      {{"--label", "bell\a"}, "control character"},
      {{"--label", "latin-1 caf\xE9"}, "not valid UTF-8"},
      {{"--label", std::string(256, 'x')}, "longer than 255 bytes"},
      {{"--expires", "2001-01-01"}, "that time has passed"},
      {{"--expires", "10000-01-01"}, "between 1970 and 9999"},
      {{"--expires", "0d"}, "duration of zero"},
      {{"--expires", "99999999999999999999d"}, "beyond the year 9999"},
      {{"--expires", "2026-12-31T23:59:59+02:00"}, "only UTC"},
      {{"--expires", "tomorrow"}, "not a duration"},
  };
  for (const RefusedCase& c : cases) {
    std::vector<std::string> args = {"add", "-k", "S"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {list_, "00:11:22:33:44:55", "00:11:22:33:44:66"});
    const auto result = list_tool(args);
    EXPECT_EQ(result.exit_status, 2) << c.options[1];
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(show(), before) << c.options[1];
  }
}

// export then pack --from (and add --from) keeps every label in each
// format that has a place for it, and the lifetimes nft and ipset carry;
// a label in a file that --label would refuse is the file's line, with
// its reason, and changes nothing.
TEST_F(Inventories, ImportsKeepLabelsAndExpiries) {
  pack(list_, "00:11:22:33:44:55\n3c:22:fb:12:34:56\naa:bb:cc:00:00:01\n");
  ASSERT_EQ(list_tool({"add", "-k", "S", "--label", "Zo\xC3\xAB's desk #2", "--expires", "2h",
                       list_, "00:11:22:33:44:55"})
                .exit_status,
            0);
  ASSERT_EQ(
      list_tool({"add", "-k", "S", "--label", "printer", list_, "3c:22:fb:12:34:56"}).exit_status,
      0);
  const auto rows = show();
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  for (const char* format : {"hostapd", "dnsmasq", "dnsmasq-hosts", "freeradius", "nft", "ipset"}) {
    SCOPED_TRACE(format);
    const bool timed = std::string(format) == "nft" || std::string(format) == "ipset";
    const bool dated = std::string(format) == "freeradius";  // a time, not the seconds left
    std::vector<std::string> args = {"export", "-k", "S", "--format", format, list_};
    if (timed) {
      args.insert(args.begin() + 5, "--timeouts");
    }
    const auto exported = list_tool(args);
    ASSERT_EQ(exported.exit_status, 0) << exported.err;
    write_file(dir_.file("export.txt"), exported.out);
    const std::string back = dir_.file(std::string("back-") + format);
    ASSERT_EQ(::mkdir(back.c_str(), 0750), 0);
    const auto packed =
        list_tool({"pack", "-k", "S", "--from", format, dir_.file("export.txt"), back});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    const auto got = list_tool({"show", "-k", "S", back});
    const auto got_rows = lines_of(got.out);
    ASSERT_EQ(got_rows.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const auto fields = fields_of(got_rows[i]);
      EXPECT_EQ(fields[0], rows[i][0]);
      EXPECT_EQ(fields[4], rows[i][4]) << "the label";
      if (timed && rows[i][1] != "-") {
        // The seconds left, counted again from the import: within a minute.
        EXPECT_TRUE(fields[1] >= rows[i][1] && fields[1] <= iso(now + 7200 + 60)) << fields[1];
      } else if (dated) {
        EXPECT_EQ(fields[1], rows[i][1]) << "the Expiration";
      } else if (!timed) {
        EXPECT_EQ(fields[1], "-") << "no place for an expiry";
      }
    }
  }
  // add --from: a listed address takes the file's label, --label fills in.
  write_file(dir_.file("hosts.txt"),
             "dhcp-host=aa:bb:cc:00:00:01,kiosk\ndhcp-host=02:00:00:00:00:09\n");
  auto result = list_tool(
      {"add", "-k", "S", "--from", "dnsmasq", "--label", "new", list_, dir_.file("hosts.txt")});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  auto after = show();
  ASSERT_EQ(after.size(), 4U);
  EXPECT_EQ(after[1][0], "02:00:00:00:00:09");
  EXPECT_EQ(after[1][4], "new");
  EXPECT_EQ(after[3][0], "aa:bb:cc:00:00:01");
  EXPECT_EQ(after[3][4], "kiosk");

  const auto before = show();
  const struct {
    const char* format;
    std::string text;
    std::string message;
  } refused[] = {
      {"nft",
       "table inet t {\n\tset s {\n\t\ttype ether_addr\n\t\telements = { 00:11:22:33:44:77 "
       "comment \"caf\xE9\" }\n\t}\n}\n",
       ":4: the label is not valid UTF-8"},
      {"dnsmasq", "dhcp-host=00:11:22:33:44:77," + std::string(300, 'h') + "\n",
       ":1: the label is longer than 255 bytes"},
      {"ipset", "add s 00:11:22:33:44:77 timeout 99999999999999\n",
       ":1: a timeout that is not a number of seconds"},
      // A time already passed, as --expires refuses one.
      {"freeradius", "# old\n00-11-22-33-44-77 Expiration := \"Jan 1 2001 UTC\"\n",
       ":2: that time has passed"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.format);
    write_file(dir_.file("bad.txt"), c.text);
    result = list_tool({"add", "-k", "S", "--from", c.format, list_, dir_.file("bad.txt")});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find(dir_.file("bad.txt") + c.message), std::string::npos) << result.err;
    EXPECT_EQ(show(), before);
  }
}

TEST_F(Inventories, PruneRemovesExactlyTheExpired) {
  pack(list_, "00:00:00:00:00:01\n00:00:00:00:00:02\n00:00:00:00:00:03\n00:00:00:00:00:04\n");
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  Inventory inventory;
  const std::uint32_t origin = inventory.add_origin(now - 100, "root");
  // Expired long ago, expired, not yet, never; and an entry for an address
  // that is not listed (left by a stopped writer), expired too.
  const std::vector<std::pair<std::uint64_t, std::int64_t>> entries = {
      {1, now - 86400}, {2, now - 1}, {3, now + 3600}, {4, Inventory::kNever}, {5, now - 5}};
  for (const auto& [address, expires] : entries) {
    inventory.entries.push_back(
        {address, expires, origin, inventory.add_label("guest " + std::to_string(address))});
  }
  write_inventory(list_, inventory);

  auto result = list_tool({"prune", "-k", "S", list_});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "00:00:00:00:00:01\t" + iso(now - 86400) + "\tguest 1\n" +
                            "00:00:00:00:00:02\t" + iso(now - 1) + "\tguest 2\n");
  EXPECT_EQ(list_tool({"unpack", "-k", "S", list_}).out, "00:00:00:00:00:03\n00:00:00:00:00:04\n");
  const auto rows = show();
  ASSERT_EQ(rows.size(), 2U);
  EXPECT_EQ(rows[0][4], "guest 3");
  EXPECT_EQ(rows[1][4], "guest 4");
  // Nothing left to prune: nothing written, nothing said on standard output.
  result = list_tool({"prune", "-k", "S", list_});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  // The stale entry of 00:00:00:00:00:05 never comes back with its address.
  ASSERT_EQ(list_tool({"add", "-k", "S", list_, "00:00:00:00:00:05"}).exit_status, 0);
  EXPECT_EQ(show()[2][4], "-");
  EXPECT_EQ(show()[2][1], "-");
}

// The --json documents of show and prune, read back by a real JSON parser
// and checked against their schema.
adrvet_test::JsonFields json_of(const std::string& command, const ProcessResult& result) {
  std::string problem;
  auto fields = adrvet_test::json_fields(command, result.out, problem);
  EXPECT_TRUE(fields.has_value()) << problem << "\nout: " << result.out << "\nerr: " << result.err;
  return fields.value_or(adrvet_test::JsonFields{});
}

// add --from applies the file's labels and expiries as --label and
// --expires would, on new and listed addresses alike; the command line's
// options give what the file leaves out of an entry, never more.
TEST_F(Inventories, AddFromTakesTheFilesNotesAndTheCommandLineFillsIn) {
  pack(list_, "aa:bb:cc:00:00:01\naa:bb:cc:00:00:02\naa:bb:cc:00:00:03\n");
  ASSERT_EQ(list_tool({"add", "-k", "S", "--label", "old", list_, "aa:bb:cc:00:00:01",
                       "aa:bb:cc:00:00:03"})
                .exit_status,
            0);
  write_file(dir_.file("set.nft"),
             "table inet t {\n\tset s {\n\t\ttype ether_addr\n\t\tflags timeout\n"
             "\t\telements = { aa:bb:cc:00:00:01 comment \"kiosk\",\n"
             "\t\t\t     aa:bb:cc:00:00:02 timeout 1h,\n"
             "\t\t\t     aa:bb:cc:00:00:03,\n"
             "\t\t\t     02:00:00:00:00:09 }\n\t}\n}\n");
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  const std::vector<std::string> add = {"add",
                                        "-k",
                                        "S",
                                        "--from",
                                        "nft",
                                        "--label",
                                        "new",
                                        "--expires",
                                        "2d",
                                        list_,
                                        dir_.file("set.nft")};
  auto result = list_tool(add);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.err.find("label or expiry changed: aa:bb:cc:00:00:01 aa:bb:cc:00:00:02 "
                            "aa:bb:cc:00:00:03"),
            std::string::npos)
      << result.err;
  const auto rows = show();
  ASSERT_EQ(rows.size(), 4U);
  const std::string in_2d = iso(now + 2 * 86400);
  const struct {
    const char* address;
    const char* label;
    std::int64_t expires_after;  // seconds from the test's start
  } want[] = {
      {"02:00:00:00:00:09", "new", 2 * 86400},    // new: both options
      {"aa:bb:cc:00:00:01", "kiosk", 2 * 86400},  // the file's comment, --expires
      {"aa:bb:cc:00:00:02", "new", 3600},         // --label, the file's timeout
      {"aa:bb:cc:00:00:03", "new", 2 * 86400},    // nothing from the file: both options
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(want[i].address);
    EXPECT_EQ(rows[i][0], want[i].address);
    EXPECT_EQ(rows[i][4], want[i].label);
    EXPECT_TRUE(rows[i][1] >= iso(now + want[i].expires_after) &&
                rows[i][1] <= iso(now + want[i].expires_after + 60))
        << rows[i][1];
  }
  // The same file again, without the options: the file's notes are what
  // the entries hold already, or say nothing; the rest stays.
  result = list_tool({"add", "-k", "S", "--from", "nft", "--json", list_, dir_.file("set.nft")});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  auto json = json_of("add", result);
  EXPECT_EQ(json.at("added.length"), "0");
  EXPECT_EQ(json.at("count"), "4");
  // The file's timeout counts again from now, which may differ by a second.
  EXPECT_TRUE(json.at("updated.length") == "0" ||
              (json.at("updated.length") == "1" && json.at("updated.0") == "\"aa:bb:cc:00:00:02\""))
      << result.out;
  const auto again = show();
  EXPECT_EQ(again[0], rows[0]);
  EXPECT_EQ(again[1], rows[1]);
  EXPECT_EQ(again[3], rows[3]);
}

TEST_F(Inventories, ShowAndPruneInJson) {
  pack(list_, "00:00:00:00:00:01\n00:00:00:00:00:02\n00:00:00:00:00:03\n00:00:00:00:00:04\n");
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  Inventory inventory;
  const std::uint32_t alice = inventory.add_origin(now - 100, "root (sudo: alice)");
  // Labels as another tool or a damaged writer might have left them: JSON
  // must carry every byte it can, escaped, and never break the document.
  inventory.entries.push_back(
      {1, now - 86400, alice, inventory.add_label("\"q\" \\ \n\x01 caf\xC3\xA9")});
  inventory.entries.push_back({2, now + 3600, Inventory::kNone, inventory.add_label("latin \xE9")});
  inventory.entries.push_back({3, Inventory::kNever, alice, Inventory::kNone});
  write_inventory(list_, inventory);

  auto result = list_tool({"show", "-k", "S", "--json", list_});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  auto json = json_of("show", result);
  EXPECT_EQ(json.at("list"), "\"" + list_ + "\"");
  const std::vector<std::vector<std::string>> expected = {
      // address, label, expires, added, added_by
      {"00:00:00:00:00:01", "\"\\\"q\\\" \\\\ \\n\\u0001 caf\xC3\xA9\"",
       "\"" + iso(now - 86400) + "\"", "\"" + iso(now - 100) + "\"", "\"root (sudo: alice)\""},
      {"00:00:00:00:00:02", "\"latin \xEF\xBF\xBD\"", "\"" + iso(now + 3600) + "\"", "null",
       "null"},
      {"00:00:00:00:00:03", "null", "null", "\"" + iso(now - 100) + "\"", "\"root (sudo: alice)\""},
      {"00:00:00:00:00:04", "null", "null", "null", "null"},  // listed before any inventory
  };
  ASSERT_EQ(json.at("entries.length"), "4");
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string at = "entries." + std::to_string(i) + ".";
    EXPECT_EQ(json.at(at + "address"), "\"" + expected[i][0] + "\"");
    EXPECT_EQ(json.at(at + "label"), expected[i][1]);
    EXPECT_EQ(json.at(at + "expires"), expected[i][2]);
    EXPECT_EQ(json.at(at + "added"), expected[i][3]);
    EXPECT_EQ(json.at(at + "added_by"), expected[i][4]);
  }

  result = list_tool({"prune", "-k", "S", "-j", list_});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  json = json_of("prune", result);
  EXPECT_EQ(json.at("removed.length"), "1");
  EXPECT_EQ(json.at("removed.0"), "\"00:00:00:00:00:01\"");
  EXPECT_EQ(json.at("added.length"), "0");
  EXPECT_EQ(json.at("dry_run"), "false");
  EXPECT_EQ(json.at("count"), "3");
  EXPECT_EQ(list_tool({"unpack", "-k", "S", list_}).out,
            "00:00:00:00:00:02\n00:00:00:00:00:03\n00:00:00:00:00:04\n");
  // Nothing expired: still one document, with nothing removed.
  result = list_tool({"prune", "-k", "S", "--json", list_});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  json = json_of("prune", result);
  EXPECT_EQ(json.at("removed.length"), "0");
  EXPECT_EQ(json.at("count"), "3");
  // An unusable list or a damaged inventory: no document, the text's status.
  result = list_tool({"show", "-k", "U", "--json", list_});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "");
  write_file(list_ + "/engine.dat.inventory", "damaged");
  for (const char* command : {"show", "prune"}) {
    result = list_tool({command, "-k", "S", "--json", list_});
    EXPECT_EQ(result.exit_status, 1) << command;
    EXPECT_EQ(result.out, "") << command;
  }
}

TEST_F(Inventories, OldListsKeepWorkingAndGainTheirInventory) {
  write_file(dir_.file("plain"), std::string("00:11:22:33:44:55\n66:77:88:99:aa:bb\n"));
  ASSERT_TRUE(orbitforge::util::encrypt_file(dir_.file("plain").c_str(),
                                             (list_ + "/engine.dat").c_str(),
                                             orbitforge::util::key_for_version(1)));
  auto rows = show();
  ASSERT_EQ(rows.size(), 2U);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"00:11:22:33:44:55", "-", "-", "-", "-"}));
  auto verified = list_tool({"verify", "-k", "S", list_});
  EXPECT_EQ(verified.out, "ok: 2 addresses\n");
  EXPECT_NE(verified.err.find("inventory: none yet"), std::string::npos) << verified.err;
  ASSERT_EQ(::chmod((list_ + "/engine.dat").c_str(), 0640), 0);
  ASSERT_EQ(list_tool({"remove", "-k", "S", list_, "66:77:88:99:aa:bb"}).exit_status, 0);
  struct stat status {};
  ASSERT_EQ(::stat((list_ + "/engine.dat.inventory").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640U);  // as the list it belongs to
  verified = list_tool({"verify", "-k", "S", list_});
  EXPECT_EQ(verified.out, "ok: 1 addresses\n");
  EXPECT_NE(verified.err.find("inventory: 0 entries"), std::string::npos) << verified.err;
}

TEST_F(Inventories, RekeyCarriesTheInventoryEvenWhenItStopsHalfWay) {
  ASSERT_EQ(
      list_tool({"add", "-k", "S", "--create", "--label", "lobby", list_, "00:11:22:33:44:55"})
          .exit_status,
      0);
  auto result = list_tool({"rekey", "-k", "S", "--to", "U", list_});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(show("U")[0][4], "lobby");
  std::vector<unsigned char> payload;
  EXPECT_EQ(orbitforge::util::decrypt_file((list_ + "/engine.dat.inventory").c_str(), &payload,
                                           orbitforge::util::key_for_version(1)),
            -2);  // nothing readable under the old key is left

  // A rekey back that stopped after the inventory: the list is still under
  // U, its inventory under S. Readers take it, the next change repairs it.
  const std::string copy = dir_.file("copy");
  ASSERT_EQ(::mkdir(copy.c_str(), 0700), 0);
  ASSERT_EQ(list_tool({"rekey", "-k", "U", "--to", "S", list_, copy}).exit_status, 0);
  ASSERT_EQ(
      ::rename((copy + "/engine.dat.inventory").c_str(), (list_ + "/engine.dat.inventory").c_str()),
      0);
  EXPECT_EQ(show("U")[0][4], "lobby");
  result = list_tool({"verify", "-k", "U", list_});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(result.err.find("other key version"), std::string::npos) << result.err;
  ASSERT_EQ(list_tool({"add", "-k", "U", list_, "00:11:22:33:44:66"}).exit_status, 0);
  result = list_tool({"verify", "-k", "U", list_});
  EXPECT_EQ(result.err.find("other key version"), std::string::npos) << result.err;
  EXPECT_EQ(show("U")[0][4], "lobby");
}

TEST_F(Inventories, ADamagedInventoryStopsWritersUntilForced) {
  pack(list_, "00:11:22:33:44:55\n");
  write_file(list_ + "/engine.dat.inventory", std::string(48, 'x'));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"add", "-k", "S", list_, "00:11:22:33:44:66"},
        std::vector<std::string>{"remove", "-k", "S", list_, "00:11:22:33:44:55"},
        std::vector<std::string>{"prune", "-k", "S", list_},
        std::vector<std::string>{"rekey", "-k", "S", "--to", "U", list_},
        std::vector<std::string>{"show", "-k", "S", list_},
        std::vector<std::string>{"verify", "-k", "S", list_}}) {
    const auto result = list_tool(args);
    EXPECT_EQ(result.exit_status, 1) << args[0];
    EXPECT_NE(result.err.find("the inventory is damaged"), std::string::npos) << result.err;
  }
  EXPECT_EQ(list_tool({"unpack", "-k", "S", list_}).out, "00:11:22:33:44:55\n");
  const auto result =
      list_tool({"add", "-k", "S", "--force", "--label", "new", list_, "00:11:22:33:44:66"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(show()[1][4], "new");
}

TEST_F(Inventories, DiffShowsChangedLabelsAndExpiries) {
  ASSERT_EQ(list_tool({"add", "-k", "S", "--create", "--label", "a", list_, "00:00:00:00:00:01",
                       "00:00:00:00:00:02", "00:00:00:00:00:03"})
                .exit_status,
            0);
  const std::string other = dir_.file("other");
  ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
  for (const char* name : {"/engine.dat", "/engine.dat.inventory"}) {
    write_file(other + name, adrvet_test::read_file(list_ + name));
  }
  auto result = list_tool({"diff", "-k", "S", list_, other});
  EXPECT_EQ(result.exit_status, 0) << result.out;
  ASSERT_EQ(list_tool({"add", "-k", "S", "--label", "b", other, "00:00:00:00:00:02"}).exit_status,
            0);
  ASSERT_EQ(
      list_tool({"add", "-k", "S", "--expires", "2031-01-01T00:00:00Z", other, "00:00:00:00:00:03"})
          .exit_status,
      0);
  result = list_tool({"diff", "-k", "S", list_, other});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out,
            "~00:00:00:00:00:02\tlabel \"a\" -> \"b\"\n"
            "~00:00:00:00:00:03\texpires - -> 2031-01-01T00:00:00Z\n");
}

// What show says of one address, but the time it was added.
struct Shown {
  std::string expires = "-";
  std::string by;
  std::string label = "-";
  bool operator==(const Shown& other) const {
    return expires == other.expires && by == other.by && label == other.label;
  }
};
using Shelf = std::map<std::string, Shown>;

std::ostream& operator<<(std::ostream& out, const Shown& shown) {
  return out << shown.expires << " | " << shown.by << " | " << shown.label;
}

Shelf shelf_of(const std::string& list) {
  const auto result = list_tool({"show", "-k", "S", list});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  Shelf shelf;
  for (const std::string& line : lines_of(result.out)) {
    const std::vector<std::string> f = fields_of(line);
    EXPECT_EQ(f.size(), 5U) << line;
    if (f.size() == 5) {
      EXPECT_TRUE(f[2].size() == 20 && f[2].back() == 'Z') << line;  // every address has one
      shelf[f[0]] = {f[1], f[3], f[4]};
    }
  }
  return shelf;
}

// One random change of the list, applied to both lists alike, and to the
// model of what show must print.
struct Change {
  std::vector<std::string> args;  // after "-k S", before the list
  std::vector<std::string> addresses;
  enum class Kind { add, remove, pack, rekey } kind = Kind::add;
  std::string label;  // given when not empty ("''" for an empty one)
  std::string expires;
};

std::string random_address(std::mt19937_64& rng) {
  return adrvet_test::colon_address((rng() & 0xFCFFFFFFFFFFULL) | 0x020000000000ULL);
}

Change random_change(std::mt19937_64& rng, const Shelf& model) {
  static const std::vector<std::string> kLabels = {"lobby", "Zo\xC3\xAB's phone", "a b%c", "%2d",
                                                   "''"};
  std::vector<std::string> listed;
  for (const auto& entry : model) {
    listed.push_back(entry.first);
  }
  Change change;
  const auto pick_listed = [&] { return listed[rng() % listed.size()]; };
  switch (rng() % 6) {
    case 0:
    case 1:
      change.kind = Change::Kind::add;
      for (std::uint64_t n = 1 + rng() % 4; n > 0; --n) {
        change.addresses.push_back(rng() % 3 == 0 && !listed.empty() ? pick_listed()
                                                                     : random_address(rng));
      }
      if (rng() % 2 == 0) {
        change.label = kLabels[rng() % kLabels.size()];
        change.args = {"--label", change.label == "''" ? "" : change.label};
      }
      if (rng() % 3 == 0) {
        change.expires = "2031-01-0" + std::to_string(1 + rng() % 9);
        change.args.insert(change.args.end(), {"--expires", change.expires});
      }
      break;
    case 2:
      change.kind = Change::Kind::remove;
      change.addresses = {random_address(rng)};
      for (std::uint64_t n = rng() % 4; n > 0 && listed.size() > 4; --n) {
        change.addresses.push_back(pick_listed());
      }
      break;
    case 3:
    case 4:
      change.kind = Change::Kind::pack;
      for (const std::string& address : listed) {
        if (rng() % 8 != 0) {
          change.addresses.push_back(address);
        }
      }
      for (std::uint64_t n = rng() % 5; n > 0; --n) {
        change.addresses.push_back(random_address(rng));
      }
      break;
    default:
      change.kind = Change::Kind::rekey;
  }
  return change;
}

void apply_to_model(const Change& change, const std::string& by, Shelf& model) {
  const std::string label = change.label == "''" ? "-" : change.label;
  const std::string expires = change.expires.empty() ? "" : change.expires + "T23:59:59Z";
  switch (change.kind) {
    case Change::Kind::add:
      for (const std::string& address : change.addresses) {
        const bool listed = model.count(address) != 0;
        Shown& shown = model[address];
        if (!listed) {
          shown = Shown{"-", by, "-"};
        }
        shown.label = change.label.empty() ? shown.label : label;
        shown.expires = expires.empty() ? shown.expires : expires;
      }
      break;
    case Change::Kind::remove:
      for (const std::string& address : change.addresses) {
        model.erase(address);
      }
      break;
    case Change::Kind::pack: {
      Shelf next;
      for (const std::string& address : change.addresses) {
        next[address] = model.count(address) != 0 ? model[address] : Shown{"-", by, "-"};
      }
      model = std::move(next);
      break;
    }
    case Change::Kind::rekey:
      break;
  }
}

void run_change(const Change& change, const std::string& list, const TempDir& dir) {
  std::vector<ProcessResult> results;
  switch (change.kind) {
    case Change::Kind::add:
    case Change::Kind::remove: {
      const bool adding = change.kind == Change::Kind::add;
      std::vector<std::string> args = {adding ? "add" : "remove", "-k", "S"};
      if (adding) {
        args.emplace_back("--quiet");
      }
      args.insert(args.end(), change.args.begin(), change.args.end());
      args.push_back(list);
      args.insert(args.end(), change.addresses.begin(), change.addresses.end());
      results.push_back(list_tool(args));
      break;
    }
    case Change::Kind::pack: {
      std::string text;
      for (const std::string& address : change.addresses) {
        text += address + "\n";
      }
      write_file(dir.file("next.txt"), text);
      results.push_back(
          list_tool({"pack", "-k", "S", "--quiet", "--allow-empty", dir.file("next.txt"), list}));
      break;
    }
    case Change::Kind::rekey:
      results.push_back(list_tool({"rekey", "-k", "S", "--to", "U", list}));
      results.push_back(list_tool({"rekey", "-k", "U", "--to", "S", list}));
      break;
  }
  for (const ProcessResult& result : results) {
    EXPECT_EQ(result.exit_status, 0) << list << ": " << result.err;
  }
}

std::uint64_t file_size(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return static_cast<std::uint64_t>(status.st_size);
}

// pack records one origin for the whole list instead of a line per
// address. The same random changes made to such a list and to one with a
// line per address, as earlier versions wrote it (its first change folds
// the lines into one origin), must show the same, and what a set model
// says, after every writer.
TEST_F(Inventories, ACommonOriginShowsWhatAnEntryPerAddressShows) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  const passwd* user = ::getpwuid(::getuid());
  ASSERT_NE(user, nullptr);
  const std::string packed = list_;
  const std::string lined = dir_.file("lined");
  Shelf model;
  std::string text;
  const std::string op0 = std::string(user->pw_name) + " (sudo: op0)";
  Inventory earlier;
  const std::uint32_t origin = earlier.add_origin(std::time(nullptr), op0);
  for (int i = 0; i < 400; ++i) {
    const std::uint64_t value = (rng() & 0xFCFFFFFFFFFFULL) | 0x020000000000ULL;
    const std::string address = adrvet_test::colon_address(value);
    text += address + "\n";
    model[address] = Shown{"-", op0, "-"};
    earlier.entries.push_back({value, Inventory::kNever, origin, Inventory::kNone});
  }
  std::sort(
      earlier.entries.begin(), earlier.entries.end(),
      [](const Inventory::Entry& a, const Inventory::Entry& b) { return a.address < b.address; });
  earlier.entries.erase(std::unique(earlier.entries.begin(), earlier.entries.end(),
                                    [](const Inventory::Entry& a, const Inventory::Entry& b) {
                                      return a.address == b.address;
                                    }),
                        earlier.entries.end());
  ::setenv("SUDO_USER", "op0", 1);
  pack(list_, text);
  ::unsetenv("SUDO_USER");
  ASSERT_EQ(::mkdir(lined.c_str(), 0700), 0);
  write_file(lined + "/engine.dat", adrvet_test::read_file(packed + "/engine.dat"));
  write_inventory(lined, earlier);
  const std::uint64_t earlier_size = file_size(lined + "/engine.dat.inventory");
  EXPECT_LT(file_size(packed + "/engine.dat.inventory"), 128U);
  EXPECT_GT(earlier_size, 400U * 12);
  ASSERT_EQ(shelf_of(lined), model) << "seed " << seed;

  for (int round = 1; round <= 30; ++round) {
    const Change change = random_change(rng, model);
    const std::string op = "op" + std::to_string(round);
    ::setenv("SUDO_USER", op.c_str(), 1);
    run_change(change, packed, dir_);
    run_change(change, lined, dir_);
    ::unsetenv("SUDO_USER");
    apply_to_model(change, std::string(user->pw_name) + " (sudo: " + op + ")", model);
    for (const std::string& list : {packed, lined}) {
      ASSERT_EQ(shelf_of(list), model) << list << " round " << round << " seed " << seed;
      const auto verified = list_tool({"verify", "-k", "S", list});
      EXPECT_EQ(verified.exit_status, 0) << verified.err;
      EXPECT_NE(verified.err.find("inventory: " + std::to_string(model.size()) + " entries\n"),
                std::string::npos)
          << verified.err << " round " << round << " seed " << seed;
    }
    EXPECT_EQ(list_tool({"diff", "-k", "S", packed, lined}).exit_status, 0)
        << "round " << round << " seed " << seed;
  }
  // Folded as pack's list is: no larger than it after the same changes. A
  // fixed share of the old size fails when the draw adds many labels.
  EXPECT_LE(file_size(lined + "/engine.dat.inventory"), file_size(packed + "/engine.dat.inventory"))
      << "seed " << seed;
}

// The system log, as the tool sees it: /dev/log is the test's own socket,
// bound into a private mount namespace in which the tool runs.
class AuditLog : public Inventories {
 protected:
  void SetUp() override {
    Inventories::SetUp();
    socket_path_ = dir_.file("log");
    socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(socket_, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket_path_.size(), sizeof address.sun_path);
    socket_path_.copy(address.sun_path, socket_path_.size());
    ASSERT_EQ(::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const auto probe = adrvet_test::run_process(
        "/usr/bin/unshare", {"--mount", "--propagation", "private", "/bin/true"});
    if (probe.exit_status != 0) {
      GTEST_SKIP() << "no mount namespace for the tool here (unshare: " << probe.err
                   << "); the audit line is not checked";
    }
  }
  void TearDown() override {
    if (socket_ >= 0) {
      ::close(socket_);
    }
  }
  // adrvet-list with /dev/log leading to the test's socket.
  ProcessResult logged_run(const std::vector<std::string>& args) {
    std::string command =
        "set -e; d=$(mktemp -d); mount -t tmpfs none \"$d\"; "
        "ln -s '" +
        socket_path_ +
        "' \"$d/log\"; "
        "touch \"$d/null\"; mount --bind /dev/null \"$d/null\"; "
        "mount --move \"$d\" /dev; exec \"$0\" \"$@\"";
    std::vector<std::string> full = {"--mount", "--propagation", "private",         "/bin/sh",
                                     "-c",      command,         ADRVET_LIST_BINARY};
    full.insert(full.end(), args.begin(), args.end());
    return adrvet_test::run_process("/usr/bin/unshare", full);
  }
  // The datagrams received so far.
  std::vector<std::string> received() {
    std::vector<std::string> lines;
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got <= 0) {
        return lines;
      }
      lines.emplace_back(buffer, static_cast<std::size_t>(got));
    }
  }
  std::string socket_path_;
  int socket_ = -1;
};

TEST_F(AuditLog, OneLinePerChangeWithItsReason) {
  ::setenv("SUDO_USER", "bob\" x=1", 1);
  std::vector<std::string> add = {"add", "-k", "S", "--create", "--label", "guest", list_};
  for (int i = 0; i < 7; ++i) {
    add.push_back("00:00:00:00:00:0" + std::to_string(i));
  }
  auto result = logged_run(add);
  ::unsetenv("SUDO_USER");
  ASSERT_EQ(result.exit_status, 0) << result.err;
  auto lines = received();
  ASSERT_EQ(lines.size(), 1U);
  // <85>: facility authpriv (10), severity notice (5).
  EXPECT_EQ(lines[0].rfind("<85>", 0), 0U) << lines[0];
  EXPECT_TRUE(contains(lines[0], " adrvet-list[")) << lines[0];
  EXPECT_TRUE(contains(lines[0], "]: add list=\"" + list_ +
                                     "/engine.dat\" added=7 "
                                     "(00:00:00:00:00:00 00:00:00:00:00:01 00:00:00:00:00:02 "
                                     "00:00:00:00:00:03 00:00:00:00:00:04 and 2 more) removed=0 "
                                     "updated=0 count=7 uid=0 sudo_user=\"bob\\x22 x=1\""))
      << lines[0];

  // Nothing changed: nothing logged.
  result = logged_run({"add", "-k", "S", list_, "00:00:00:00:00:01"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_TRUE(received().empty());
  result = logged_run({"prune", "-k", "S", list_});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_TRUE(received().empty());

  // A refusal logs its reason, at warning (<84>).
  result = logged_run({"remove", "-k", "U", list_, "00:00:00:00:00:01"});
  EXPECT_EQ(result.exit_status, 1);
  lines = received();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0].rfind("<84>", 0), 0U) << lines[0];
  EXPECT_TRUE(contains(lines[0], "remove list=\"" + list_ + "/engine.dat\" failed reason=\""))
      << lines[0];
  EXPECT_TRUE(contains(lines[0], "wrong key")) << lines[0];

  result = logged_run({"remove", "-k", "S", list_, "00:00:00:00:00:01"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  lines = received();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_TRUE(contains(lines[0], "removed=1 (00:00:00:00:00:01) updated=0 count=6 uid=0"))
      << lines[0];
  EXPECT_FALSE(contains(lines[0], "sudo_user")) << lines[0];
}

}  // namespace
