// The peer formats in process: every import format line by line, the names
// the export accepts, and export followed by import over random lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <random>
#include <sstream>

#include "formats/format_table.h"
#include "formats/label_text.h"
#include "formats/peers.h"
#include "formats/text.h"
#include "support/test_support.h"

namespace {

using adrvet_list::Addresses;
using adrvet_list::ParsedLine;
using adrvet_list::PeerFormat;

constexpr std::uint64_t kA = 0x001122334455ULL;
constexpr std::uint64_t kB = 0x3C22FB123456ULL;

struct Imported {
  std::vector<std::uint64_t> values;
  std::vector<std::string> invalid;  // "LINE: reason"
  std::vector<std::string> where;    // what each message quotes
  std::size_t skipped = 0;
  // The label and seconds left the file gives each address, the last said.
  std::map<std::uint64_t, std::pair<std::string, std::int64_t>> notes;
  std::map<std::uint64_t, std::int64_t> expires_at;  // the times a file names
};

const PeerFormat& format_named(std::string_view name) {
  const PeerFormat* format = adrvet_list::find_peer_format(name);
  EXPECT_NE(format, nullptr) << name;
  return *format;
}

// The file read as import_input reads it: each set's statements apply to
// that set, and the reader's chosen set is what is imported.
Imported import_text(const PeerFormat& format, const std::string& text,
                     const adrvet_list::SetChoice& choice = {}) {
  const auto importer = format.make_reader();
  importer->choose(choice);
  std::map<std::uint32_t, std::vector<std::uint64_t>> sets;
  Imported result;
  std::istringstream in(text);
  std::string line;
  std::size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    // The peer's statements applied as it applies them, one by one.
    for (const ParsedLine& parsed : importer->read(line)) {
      switch (parsed.kind) {
        case ParsedLine::Kind::address:
          sets[parsed.set].push_back(parsed.value);
          result.notes[parsed.value] = {std::string(parsed.label), parsed.seconds_left};
          result.expires_at[parsed.value] = parsed.expires_at;
          break;
        case ParsedLine::Kind::removal:
          std::erase(sets[parsed.set], parsed.value);
          break;
        case ParsedLine::Kind::flush:
          for (auto& [set_number, values] : sets) {
            if (parsed.set == ParsedLine::kAllSets || parsed.set == set_number) {
              values.clear();
            }
          }
          break;
        case ParsedLine::Kind::skipped:
          ++result.skipped;
          break;
        case ParsedLine::Kind::blank:
          break;
        case ParsedLine::Kind::invalid:
          result.invalid.push_back(std::to_string(number) + ": " + parsed.reason);
          result.where.emplace_back(parsed.content);
          break;
      }
    }
  }
  if (const char* reason = importer->finish()) {
    result.invalid.push_back(std::string("end: ") + reason);
  } else {
    result.values = sets[importer->chosen_set()];
  }
  return result;
}

struct LineCase {
  const char* format;
  std::string line;
  std::vector<std::uint64_t> values;  // expected addresses, when valid
  std::string reason;                 // expected reason, when invalid
};

// One line alone in each format: extra fields kept out, wrong lines refused.
TEST(PeerImport, LinesOfEveryFormat) {
  const std::vector<LineCase> cases = {
      {"plain", "00:11:22:33:44:55", {kA}, ""},
      {"plain", "0011.2233.4455 # desk", {kA}, ""},
      {"plain", "00:11:22:33:44", {}, "too few hex digits (need 12)"},
      {"hostapd", "00:11:22:33:44:55", {kA}, ""},
      {"hostapd", "00:11:22:33:44:55 7", {kA}, ""},
      {"hostapd", "00:11:22:33:44:55\t1+20", {kA}, ""},
      {"hostapd", "# 00:11:22:33:44:55", {}, ""},
      {"hostapd", "00:11:22:33:44:55 guests", {}, "not a VLAN ID after the address"},
      {"hostapd", "00:11:22:33:44:55 # desk", {kA}, ""},
      {"hostapd", "00:11:22:33:44:55#desk", {kA}, ""},
      {"hostapd", "00:11:22:33:44:55 VLAN_ID=0", {kA}, ""},  // hostapd_cli accept_acl SHOW
      {"hostapd", "-00:11:22:33:44:55", {}, ""},
      {"hostapd", "00:11:22:33:44:5g", {}, "not a hex digit or separator"},
      // hostapd reads 127 bytes at a time: the rest of a longer comment would be an entry.
      {"hostapd", "#" + std::string(126, 'x'), {}, ""},
      {"hostapd",
       "#" + std::string(126, 'x') + "00:11:22:33:44:55",
       {},
       "a line longer than the 127 bytes hostapd reads as one"},
      {"dnsmasq", "dhcp-host=00:11:22:33:44:55", {kA}, ""},
      {"dnsmasq", "dhcp-host=00:11:22:33:44:55,laptop,192.168.1.5,set:red,infinite", {kA}, ""},
      {"dnsmasq", "dhcp-host=00:11:22:33:44:55,3C:22:FB:12:34:56,12h", {kA, kB}, ""},
      {"dnsmasq", "dhcp-host=01-00:11:22:33:44:55,desk", {kA}, ""},
      {"dnsmasq", "dhcp-host=00:11:22:33:44:55,192.168.1.5,[::5]", {kA}, ""},
      {"dnsmasq", "dhcp-host=00:11:22:33:44:55 # printer", {kA}, ""},
      {"dnsmasq",
       "dhcp-host=00:11:22:33:44:55,tag:lab,12h",
       {},
       "a tag: condition: dnsmasq takes the entry only for hosts with that tag"},
      {"dnsmasq",
       "dhcp-host=00:11:22:33:44:55,[::5]",
       {},
       "only an IPv6 address: dnsmasq does not take the host as known for DHCPv4"},
      {"dnsmasq",
       "dhcp-host=00:11:22:33:44:55,ignore # lost",
       {},
       "an 'ignore' entry keeps the host out"},
      {"dnsmasq", "dhcp-host=06-00:11:22:33:44:55", {}, "a hardware type other than 01 (Ethernet)"},
      {"dnsmasq",
       "conf-file=/etc/dnsmasq.d/more.conf",
       {},
       "an include is not followed; import the included file too"},
      {"dnsmasq", "dhcp-host = 00:11:22:33:44:55", {kA}, ""},
      {"dnsmasq", "dhcp-host=00:11:22:33:44:55,ignore", {}, "an 'ignore' entry keeps the host out"},
      {"dnsmasq",
       "dhcp-host=00:11:22:33:*:*,set:any",
       {},
       "a wildcard address stands for many addresses"},
      {"dnsmasq",
       "dhcp-host=id:client,192.168.1.6",
       {},
       "no hardware address (an entry by name, client ID or IP only)"},
      {"dnsmasq",
       "dhcp-host=00:11:22:33:44:55:66",
       {},
       "no hardware address (an entry by name, client ID or IP only)"},
      {"dnsmasq", "dhcp-range=192.168.1.10,192.168.1.50", {}, ""},  // skipped
      {"dnsmasq-hosts", "00:11:22:33:44:55,printer,set:office", {kA}, ""},
      {"dnsmasq-hosts",
       "00:11:22:33:44:55,ignore # comment",
       {},
       "an 'ignore' entry keeps the host out"},
      {"dnsmasq-hosts",
       "dhcp-host=00:11:22:33:44:55",
       {},
       "no hardware address (an entry by name, client ID or IP only)"},
      {"ipset", "add lab 00:11:22:33:44:55", {kA}, ""},
      {"ipset", "add lab 00:11:22:33:44:55 timeout 0 comment \"desk\"", {kA}, ""},
      {"ipset", "add lab 00:11:22:33:44:55 timeout 300", {kA}, ""},
      {"ipset",
       "add lab 00:11:22:33:44:55 timeout soon",
       {},
       "a timeout that is not a number of seconds"},
      {"ipset", "create lab hash:mac hashsize 1024 maxelem 65536 bucketsize 12", {}, ""},
      {"ipset", "del lab 00:11:22:33:44:55", {}, ""},
      {"ipset",
       "test lab 00:11:22:33:44:55",
       {},
       "not an ipset create, add, del, flush, swap or destroy line"},
      {"ipset", "add lab 00:11:22:33:44", {}, "too few hex digits (need 12)"},
      {"freeradius", "00-11-22-33-44-55", {kA}, ""},
      {"freeradius", R"("3C-22-FB-12-34-56")", {kB}, ""},
      {"freeradius", "3C-22-FB-12-34-56 # lab", {kB}, ""},
      {"freeradius",
       R"(3C-22-FB-12-34-56 Cleartext-Password := "x")",
       {},
       "check items (or Fall-Through) on the entry line: the entry matches only when they hold"},
      {"freeradius",
       "3C-22-FB-12-34-56 NAS-IP-Address == 10.0.0.1",
       {},
       "check items (or Fall-Through) on the entry line: the entry matches only when they hold"},
      {"freeradius",
       "3C-22-FB-12-34-56 Fall-Through = Yes",
       {},
       "check items (or Fall-Through) on the entry line: the entry matches only when they hold"},
      {"freeradius",
       "3c-22-fb-12-34-56",
       {},
       "never matches: rewrite_calling_station_id makes every address AA-BB-CC-DD-EE-FF "
       "(upper case, '-')"},
      {"freeradius",
       "3C:22:FB:12:34:56",
       {},
       "never matches: rewrite_calling_station_id makes every address AA-BB-CC-DD-EE-FF "
       "(upper case, '-')"},
      {"freeradius", "\tReply-Message = \"welcome\"", {}, ""},
      {"freeradius",
       "00-11-22-33-44-55 Auth-Type := Reject",
       {},
       "an entry with Auth-Type Reject keeps the address out"},
      {"freeradius",
       "00-11-22-33-44-55 Auth-Type := Reject # comment",
       {},
       "an entry with Auth-Type Reject keeps the address out"},
      {"freeradius",
       "00-11-22-33-44-55 Auth-Type:=Reject#x",
       {},
       "an entry with Auth-Type Reject keeps the address out"},
      {"freeradius",
       "00-11-22-33-44-55 Auth-Type += Reject",
       {},
       "an entry with Auth-Type Reject keeps the address out"},
      {"nft",
       "00:11:22:33:44:55",
       {},
       "not an nft statement (an 'nft -f' file or 'nft list' output is read)"},
      {"nft",
       "include \"/etc/adrvet.nft\"",
       {},
       "an include is not followed; import the included file too"},
      {"freeradius", "DEFAULT Auth-Type := Accept", {}, "a DEFAULT entry names no address"},
      {"freeradius", "$INCLUDE macs.d", {}, "an include is not followed; import the included file"},
      {"nft",
       "add element inet t s { 00:11:22:33:44:55 }",
       {},
       "an element of a set whose type is not declared before it"},
  };
  for (const LineCase& c : cases) {
    const Imported got = import_text(format_named(c.format), c.line + "\n");
    if (c.reason.empty()) {
      EXPECT_TRUE(got.invalid.empty()) << c.line << ": " << got.invalid.front();
      EXPECT_EQ(got.values, c.values) << c.line;
    } else {
      ASSERT_EQ(got.invalid.size(), 1U) << c.line;
      EXPECT_EQ(got.invalid[0], "1: " + c.reason) << c.line;
    }
  }
}

// Output of "nft list ruleset" as nft 1.0.6 prints it, with a set of other
// things and a rule beside the set of addresses.
TEST(PeerImport, NftRulesetTakesTheSetOfAddresses) {
  const std::string ruleset =
      "table inet filter {\n"
      "\tset blocked_ips {\n"
      "\t\ttype ipv4_addr\n"
      "\t\telements = { 10.0.0.1, 10.0.0.2 }\n"
      "\t}\n"
      "\n"
      "\tset allowed {\n"
      "\t\ttype ether_addr\n"
      "\t\tsize 65535\n"
      "\t\telements = { 00:11:22:33:44:55 counter packets 0 bytes 0 comment \"desk\",\n"
      "\t\t\t     3c:22:fb:12:34:56 }\n"
      "\t}\n"
      "\n"
      "\tchain input {\n"
      "\t\ttype filter hook input priority filter; policy drop;\n"
      "\t\tether saddr @allowed accept # listed hosts\n"
      "\t}\n"
      "}\n";
  const Imported got = import_text(format_named("nft"), ruleset);
  EXPECT_TRUE(got.invalid.empty()) << got.invalid.front();
  EXPECT_EQ(got.values, (std::vector<std::uint64_t>{kA, kB}));
}

struct FileCase {
  const char* format;
  std::string text;
  std::vector<std::uint64_t> values;  // what the peer's set ends with
  std::string invalid;                // or the first refusal, "LINE: reason"
};

void expect_file_cases(const std::vector<FileCase>& cases) {
  for (const FileCase& c : cases) {
    const Imported got = import_text(format_named(c.format), c.text);
    if (c.invalid.empty()) {
      EXPECT_TRUE(got.invalid.empty()) << c.text << got.invalid.front();
      EXPECT_EQ(got.values, c.values) << c.text;
    } else {
      ASSERT_FALSE(got.invalid.empty()) << c.text;
      EXPECT_EQ(got.invalid.front(), c.invalid) << c.text;
    }
  }
}

// The peers' own removals apply in order, as the peers apply them (each
// checked against the real peer in tests/peers/): what they take out is not
// imported, what comes back after is.
TEST(PeerImport, StatementsApplyInOrder) {
  const std::string set = "table inet t {\n\tset s {\n\t\ttype ether_addr\n\t}\n}\n";
  const std::string add_a = "add element inet t s { 00:11:22:33:44:55 }\n";
  const std::string add_b = "add element inet t s { 3c:22:fb:12:34:56 }\n";
  expect_file_cases({
      {"nft", set + add_a + add_b + "delete element inet t s { 00:11:22:33:44:55 }\n", {kB}, ""},
      {"nft", set + add_a + "flush set inet t s\n" + add_b, {kB}, ""},
      {"nft", set + add_a + add_b + "flush set inet t s\n", {}, ""},
      {"nft", set + add_a + add_b + "flush table inet t\n", {}, ""},
      {"nft", set + add_a + add_b + "flush ruleset\n", {}, ""},
      {"nft", set + add_a + "delete element inet t s { 00:11:22:33:44:55 }\n" + add_a, {kA}, ""},
      // Another set's flush leaves this one.
      {"nft", set + add_a + "flush set inet t other\n", {kA}, ""},
      {"ipset",
       "create s hash:mac\nadd s 00:11:22:33:44:55\nadd s 3c:22:fb:12:34:56\nflush s\n",
       {},
       ""},
      {"ipset",
       "create s hash:mac\nadd s 00:11:22:33:44:55\nflush\nadd s 3c:22:fb:12:34:56\n",
       {kB},
       ""},
      {"ipset",
       "create s hash:mac\nadd s 00:11:22:33:44:55\nadd s 3c:22:fb:12:34:56\ndel s "
       "00:11:22:33:44:55\n",
       {kB},
       ""},
      {"ipset", "create s hash:mac\nadd s 00:11:22:33:44:55\ndestroy s\n", {}, ""},
      // The export's own script: fill a temporary set, swap it in, destroy the other.
      {"ipset",
       "create s hash:mac -exist\ncreate s-new hash:mac -exist\nflush s-new\nadd s-new "
       "00:11:22:33:44:55\n"
       "swap s-new s\ndestroy s-new\n",
       {kA},
       ""},
      {"hostapd", "00:11:22:33:44:55\n3c:22:fb:12:34:56\n-00:11:22:33:44:55\n", {kB}, ""},
      {"dnsmasq",
       "domain=lan\ndhcp-range=192.168.1.10,192.168.1.50\ndhcp-host=00:11:22:33:44:55\n",
       {kA},
       ""},
  });
}

// Entries the peer would not admit unconditionally are refused, whole files
// through: timeouts, ranges, elements nft itself refuses.
TEST(PeerImport, EntriesThatWouldWidenAccessAreRefused) {
  const std::string set = "table inet t {\n\tset s {\n\t\ttype ether_addr\n";
  expect_file_cases({
      {"nft",
       set + "\t\tflags timeout\n\t\telements = { 00:11:22:33:44:55 timeout 5min }\n\t}\n}\n",
       {},
       "5: not a time nft writes (such as 1h, 59m58s960ms)"},
      {"nft",
       set + "\t\tflags timeout\n\t\telements = { 00:11:22:33:44:55\n\t\t\ttimeout 1h }\n\t}\n}\n",
       {},
       "6: an element's comment or timeout on a line after its address"},
      {"nft",
       set +
           "\t\tflags interval\n\t\telements = { 00:11:22:33:44:10 - 00:11:22:33:44:55 }\n\t}\n}\n",
       {},
       "5: a range (written with spaces) stands for many addresses"},
      {"nft",
       set + "\t\telements = { 00:11:22:33:44:55\n\t\t\t3c:22:fb:12:34:56 }\n\t}\n}\n",
       {},
       "5: a second element without a comma before it, which nft refuses"},
  });
}

// What each peer's file says of an entry besides its address: the label
// (an element's comment, a host name and tags, the comment line above it)
// and the seconds it has left (an element's timeout, nft's "expires", a
// set's default timeout).
TEST(PeerImport, LabelsAndTimeoutsComeWithTheirEntries) {
  constexpr std::int64_t kNone = ParsedLine::kForever;
  const std::string set = "table inet t {\n\tset s {\n\t\ttype ether_addr\n";
  const struct {
    const char* format;
    std::string text;
    std::string label;
    std::int64_t seconds;
  } cases[] = {
      {"nft", set + "\t\telements = { 00:11:22:33:44:55 comment \"desk 1\" }\n\t}\n}\n", "desk 1",
       kNone},
      {"nft",
       set + "\t\tflags timeout\n\t\telements = { 00:11:22:33:44:55 timeout 1h expires "
             "59m58s960ms comment \"guest\" }\n\t}\n}\n",
       "guest", 3599},
      {"nft",
       set + "\t\tflags timeout\n\t\telements = { 00:11:22:33:44:55 timeout 1d2h }\n\t}\n}\n", "",
       93600},
      {"nft", set + "\t\ttimeout 1h\n\t}\n}\nadd element inet t s { 00:11:22:33:44:55 }\n", "",
       3600},
      {"nft", set + "\t\ttimeout 1h\n\t\telements = { 00:11:22:33:44:55 timeout 90s }\n\t}\n}\n",
       "", 90},
      // A comment line above the set is no element's label.
      {"nft", "# hosts\n" + set + "\t\telements = { 00:11:22:33:44:55 }\n\t}\n}\n", "", kNone},
      {"ipset", "add s 00:11:22:33:44:55 comment \"desk, with timeout 0\" timeout 300",
       "desk, with timeout 0", 300},
      {"ipset", "create s hash:mac timeout 600\nadd s 00:11:22:33:44:55\n", "", 600},
      {"ipset", "create s hash:mac timeout 600\nadd s 00:11:22:33:44:55 timeout 0\n", "", kNone},
      {"hostapd", "# front desk\n00:11:22:33:44:55\n", "front desk", kNone},
      {"hostapd", "# front desk\n\n00:11:22:33:44:55\n", "", kNone},  // not right above
      {"hostapd", "#  two spaces \n00:11:22:33:44:55\n", " two spaces ", kNone},
      {"dnsmasq", "# lab\ndhcp-host=00:11:22:33:44:55\n", "lab", kNone},
      {"dnsmasq", "# lab\ndhcp-host=00:11:22:33:44:55,set:guest,10.0.0.5,laptop,12h\n",
       "laptop set:guest", kNone},
      {"dnsmasq", "dhcp-host=00:11:22:33:44:55,id:01:02,infinite\n", "", kNone},
      {"dnsmasq-hosts", "# lab\n00:11:22:33:44:55,printer\n", "printer", kNone},
      {"freeradius", "# reception\n00-11-22-33-44-55\n\tReply-Message = \"hi\"\n", "reception",
       kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format) + ": " + c.text);
    const Imported got = import_text(format_named(c.format), c.text);
    EXPECT_TRUE(got.invalid.empty()) << got.invalid.front();
    ASSERT_EQ(got.values, std::vector<std::uint64_t>{kA});
    EXPECT_EQ(got.notes.at(kA).first, c.label);
    EXPECT_EQ(got.notes.at(kA).second, c.seconds);
  }
}

// nft's and ipset's times: units in order, milliseconds rounded up.
TEST(PeerImport, DurationsAsThePeersWriteThem) {
  const std::pair<std::string_view, std::int64_t> cases[] = {
      {"90", 90},          {"90s", 90},
      {"1h", 3600},        {"59m58s960ms", 3599},
      {"1d2h3m4s", 93784}, {"1ms", 1},
      {"0s", 0},           {"", -1},
      {"1h1d", -1},        {"1x", -1},
      {"s", -1},           {"1 h", -1},
      {"-5s", -1},         {"99999999999999999999", -1},
      {"36600d1s", -1},
  };
  for (const auto& [text, seconds] : cases) {
    EXPECT_EQ(adrvet_list::text::duration_seconds(text), seconds) << text;
  }
}

TEST(PeerImport, NftRefusesWhatItCannotTake) {
  const struct {
    std::string text;
    std::string invalid;
  } cases[] = {
      {"table bridge t {\n\tset a {\n\t\ttype ether_addr\n\t\telements = { 00:11:22:33:44:55 }\n"
       "\t}\n\tset b {\n\t\ttype ether_addr\n\t\telements = { 3c:22:fb:12:34:56 }\n\t}\n}\n",
       "end: elements of several ether_addr sets (bridge t a, bridge t b); choose one with "
       "--name, --table and --family"},
      {"table inet t {\n\tset a {\n\t\ttype ether_addr\n\t\telements = { 00:11:22:33:44 "
       "}\n\t}\n}\n",
       "4: too few hex digits (need 12)"},
      {"table inet t {\n\tset a {\n\t\ttype ether_addr\n",
       "end: the input ends inside a '{' block"},
      {"}\n", "1: a '}' without its '{'"},
  };
  for (const auto& c : cases) {
    const Imported got = import_text(format_named("nft"), c.text);
    ASSERT_EQ(got.invalid.size(), 1U) << c.text;
    EXPECT_EQ(got.invalid[0], c.invalid) << c.text;
  }
  // A set of address pairs is no list of addresses: nothing is taken from it.
  const Imported pairs = import_text(format_named("nft"),
                                     "table inet t {\n\tset p {\n\t\ttype ether_addr . ipv4_addr\n"
                                     "\t\telements = { 00:11:22:33:44:55 . 10.0.0.1 }\n\t}\n}\n");
  EXPECT_TRUE(pairs.invalid.empty());
  EXPECT_TRUE(pairs.values.empty());
}

struct ChoiceCase {
  const char* format;
  adrvet_list::SetChoice choice;
  std::vector<std::uint64_t> values;  // what the chosen set holds
  std::string invalid;                // or why none is chosen
};

void expect_choices(const std::string& text, const std::vector<ChoiceCase>& cases) {
  for (const ChoiceCase& c : cases) {
    const std::string what = c.choice.family + "/" + c.choice.table + "/" + c.choice.set;
    const Imported got = import_text(format_named(c.format), text, c.choice);
    if (c.invalid.empty()) {
      EXPECT_TRUE(got.invalid.empty()) << what << ": " << got.invalid.front();
      EXPECT_EQ(got.values, c.values) << what;
    } else {
      ASSERT_EQ(got.invalid.size(), 1U) << what;
      EXPECT_EQ(got.invalid[0], "end: " + c.invalid) << what;
    }
  }
}

// "ipset save" of several sets, as the kernel prints them: --name chooses,
// each set's own flush and del apply to it only, and without --name the
// sets are named. Sets of other types hold nothing to import.
TEST(PeerImport, IpsetNameChoosesOneSetOfSeveral) {
  const std::string save =
      "create a hash:mac hashsize 1024 maxelem 65536 bucketsize 12 initval 0x1\n"
      "add a 00:11:22:33:44:55\nadd a 3c:22:fb:12:34:56\n"
      "create b hash:mac hashsize 1024 maxelem 65536 bucketsize 12 initval 0x2\n"
      "add b 3c:22:fb:12:34:56\n"
      "create ips hash:ip family inet hashsize 1024 maxelem 65536\nadd ips 10.0.0.1\n"
      "del a 3c:22:fb:12:34:56\nflush b\nadd b 00:11:22:33:44:55\n";
  expect_choices(save, {
                           {"ipset", {"", "", "a"}, {kA}, ""},
                           {"ipset", {"", "", "b"}, {kA}, ""},
                           {"ipset",
                            {},
                            {},
                            "addresses of several hash:mac sets (a, b); choose "
                            "one with --name"},
                           {"ipset",
                            {"", "", "ips"},
                            {},
                            "no hash:mac set named 'ips' (the "
                            "file's: a, b)"},
                           {"ipset",
                            {"", "", "c"},
                            {},
                            "no hash:mac set named 'c' (the file's: "
                            "a, b)"},
                       });
  const Imported ips = import_text(format_named("ipset"), "create lab hash:ip family inet\n");
  ASSERT_EQ(ips.invalid.size(), 1U);
  EXPECT_EQ(ips.invalid[0], "end: no hash:mac set: the file's sets hold no hardware addresses");
  // The export's own script: its set is the one swapped in under the name.
  const std::string script =
      "create s hash:mac -exist\ncreate s-new hash:mac -exist\nflush s-new\n"
      "add s-new 00:11:22:33:44:55\nswap s-new s\ndestroy s-new\n";
  expect_choices(script, {{"ipset", {"", "", "s"}, {kA}, ""},
                          {"ipset", {}, {kA}, ""},
                          {"ipset",
                           {"", "", "s-new"},
                           {},
                           "no hash:mac set named 's-new' (the "
                           "file's: s)"}});
}

// "ipset list" output: the members of the chosen hash:mac set, timeouts
// refused as in "ipset save" output.
TEST(PeerImport, IpsetListOutput) {
  const std::string list =
      "Name: ips\nType: hash:ip\nRevision: 6\n"
      "Header: family inet hashsize 1024 maxelem 65536 bucketsize 12 initval 0x27a3ae53\n"
      "Size in memory: 216\nReferences: 0\nNumber of entries: 1\nMembers:\n10.0.0.1\n\n"
      "Name: macs\nType: hash:mac\nRevision: 0\n"
      "Header: hashsize 1024 maxelem 65536 counters comment bucketsize 12 initval 0x1\n"
      "Size in memory: 300\nReferences: 1\nNumber of entries: 2\nMembers:\n"
      "00:11:22:33:44:55 packets 0 bytes 0 comment \"desk\"\n3C:22:FB:12:34:56\n";
  expect_choices(list, {{"ipset", {}, {kA, kB}, ""}, {"ipset", {"", "", "macs"}, {kA, kB}, ""}});
  const std::string timed =
      "Name: macs\nType: hash:mac\nRevision: 0\n"
      "Header: hashsize 1024 maxelem 65536 timeout 600 bucketsize 12 initval 0x1\n"
      "Size in memory: 300\nReferences: 0\nNumber of entries: 1\nMembers:\n"
      "00:11:22:33:44:55 timeout 599\n";
  const Imported got = import_text(format_named("ipset"), timed);
  EXPECT_TRUE(got.invalid.empty());
  EXPECT_EQ(got.values, std::vector<std::uint64_t>{kA});
  const Imported other = import_text(format_named("ipset"), "Name: macs\nColour: blue\n");
  ASSERT_FALSE(other.invalid.empty());
  EXPECT_EQ(other.invalid[0], "2: not a line of 'ipset list' output");
}

// "nft list ruleset" with sets of addresses in several tables and
// families: --name, --table and --family narrow down to one; a removal or
// flush of one set leaves the others.
TEST(PeerImport, NftChoiceNarrowsToOneSet) {
  const std::string ruleset =
      "table inet filter {\n\tset allowed {\n\t\ttype ether_addr\n"
      "\t\telements = { 00:11:22:33:44:55, 3c:22:fb:12:34:56 }\n\t}\n"
      "\tset guests {\n\t\ttype ether_addr\n\t}\n}\n"
      "table bridge lan {\n\tset allowed {\n\t\ttypeof ether saddr\n"
      "\t\telements = { 3c:22:fb:12:34:56 }\n\t}\n}\n"
      "delete element inet filter allowed { 3c:22:fb:12:34:56 }\n";
  expect_choices(ruleset, {
                              {"nft", {"inet", "", ""}, {kA}, ""},
                              {"nft", {"", "lan", ""}, {kB}, ""},
                              {"nft", {"bridge", "lan", "allowed"}, {kB}, ""},
                              {"nft", {"", "filter", "allowed"}, {kA}, ""},
                              {"nft", {"", "", "guests"}, {}, ""},  // declared, empty
                              {"nft",
                               {},
                               {},
                               "elements of several ether_addr sets (inet filter allowed, "
                               "bridge lan allowed); choose one with --name, --table and --family"},
                              {"nft",
                               {"", "", "allowed"},
                               {},
                               "elements of several ether_addr sets (inet filter "
                               "allowed, bridge lan allowed); choose one with "
                               "--name, --table and --family"},
                              {"nft",
                               {"ip", "", ""},
                               {},
                               "no ether_addr set matches --name, --table and --family "
                               "(the file's: bridge lan allowed, inet filter allowed, "
                               "inet filter guests)"},
                          });
  // A flush of the whole table empties only its sets.
  expect_choices(ruleset + "flush table bridge lan\n",
                 {{"nft", {"bridge", "", ""}, {}, ""}, {"nft", {"inet", "", "allowed"}, {kA}, ""}});
}

TEST(PeerImport, FreeradiusSkipsReplyItems) {
  const Imported got =
      import_text(format_named("freeradius"),
                  "# office\n00-11-22-33-44-55\n"
                  "\tReply-Message = \"Device %{Calling-Station-Id} authorized\",\n"
                  "\tTunnel-Private-Group-Id = 10\n\n3C-22-FB-12-34-56\n");
  EXPECT_TRUE(got.invalid.empty());
  EXPECT_EQ(got.values, (std::vector<std::uint64_t>{kA, kB}));
}

// FreeRADIUS's Expiration check item, in the forms rlm_expiration reads
// (checked against freeradius -XC), is the entry's expiry, a written date
// taken in local time whatever zone it names, as the server takes it (a
// live server at UTC+9 turned "... UTC" away nine hours early); any other
// check item, or another operator, still keeps the entry out.
TEST(PeerImport, FreeradiusExpirationIsTheExpiry) {
  constexpr std::int64_t kEndOf2026 = 1798761599;  // 2026-12-31T23:59:59Z
  constexpr std::int64_t kLastDay = kEndOf2026 - 86399;
  const char* const old_tz = std::getenv("TZ");
  const std::string saved = old_tz != nullptr ? old_tz : "";
  ::setenv("TZ", "JST-9", 1);  // a local time nine hours ahead of UTC
  ::tzset();
  constexpr std::int64_t kAhead = 9 * 3600;
  const struct {
    std::string entry;
    std::int64_t expires_at;
    std::string reason;
  } cases[] = {
      {"Expiration := \"Dec 31 2026 23:59:59 UTC\"", kEndOf2026 - kAhead, ""},
      {"expiration:=\"31 Dec 2026 GMT\"", kLastDay - kAhead, ""},
      {"Expiration := \"december 31 2026 23:59 utc\"", kEndOf2026 - 59 - kAhead, ""},
      {"Expiration := \"Dec 31 2026 12:00 JST\"", kLastDay + 3 * 3600, ""},
      {"Expiration := 1798761599", kEndOf2026, ""},              // the one form free of zones
      {"Expiration := \"Dec 31 2026\"", kLastDay - kAhead, ""},  // local midnight
      {"Expiration := \"Dec 31 2026 09:00\"", kLastDay, ""},
      {"Expiration := \"Dec 31 2026 12:00 CET\"", 0, "a time zone FreeRADIUS does not read"},
      {"Expiration := \"2026-12-31T23:59:59Z\"", 0, "not a date FreeRADIUS writes"},
      {"Expiration := \"Dec 32 2026\"", 0, "no such day"},
      {"Expiration := \"Feb 29 2027\"", 0, "no such day"},
      {"Expiration := \"Dec 31 2026 24:00\"", 0, "no such time of day"},
      {"Expiration := \"Dec 31 10000\"", 0, "the year must lie between 1970 and 9999"},
      {"Expiration := 99999999999999", 0, "the year must lie between 1970 and 9999"},
      {"Expiration := \"Dec 31 2026 23:59:59 +0200\"", 0, "a time zone FreeRADIUS does not read"},
      {"Expiration == \"Dec 31 2026\"", 0, "check items"},
      {"Expiration := \"Dec 31 2026\", Auth-Type := Accept", 0, "check items"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    const Imported got =
        import_text(format_named("freeradius"), "# desk\n00-11-22-33-44-55 " + c.entry + "\n");
    if (c.reason.empty()) {
      EXPECT_TRUE(got.invalid.empty()) << got.invalid.front();
      ASSERT_EQ(got.values, std::vector<std::uint64_t>{kA});
      EXPECT_EQ(got.expires_at.at(kA), c.expires_at);
      EXPECT_EQ(got.notes.at(kA).first, "desk");
    } else {
      ASSERT_EQ(got.invalid.size(), 1U);
      EXPECT_NE(got.invalid[0].find(c.reason), std::string::npos) << got.invalid[0];
      EXPECT_TRUE(got.values.empty());
    }
  }
  if (old_tz != nullptr) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

TEST(PeerNames, NftAndIpset) {
  for (const char* name : {"adrvet", "lab_macs", "a-b", "a.b", "_x", "SET", "Table1"}) {
    EXPECT_EQ(adrvet_list::peers::nft_name_problem(name), nullptr) << name;
  }
  for (const char* name : {"set", "table", "flush", "add", "ether", "inet", "elements", "meter",
                           "rt0", "", "1abc", "bad name", "semi;colon"}) {
    EXPECT_NE(adrvet_list::peers::nft_name_problem(name), nullptr) << name;
  }
  // nft's own limit: 255 characters (its buffer of 256 holds the zero).
  EXPECT_EQ(adrvet_list::peers::nft_name_problem("a" + std::string(254, 'b')), nullptr);
  EXPECT_NE(adrvet_list::peers::nft_name_problem("a" + std::string(255, 'b')), nullptr);
  for (const char* family : {"ip", "ip6", "inet", "arp", "bridge", "netdev"}) {
    EXPECT_TRUE(adrvet_list::peers::is_nft_family(family)) << family;
  }
  for (const char* family : {"inet6", "ipv4", "", "INET", "ether"}) {
    EXPECT_FALSE(adrvet_list::peers::is_nft_family(family)) << family;
  }
  EXPECT_EQ(adrvet_list::peers::ipset_name_problem("a23456789012345678901234567"), nullptr);  // 27
  EXPECT_NE(adrvet_list::peers::ipset_name_problem("a234567890123456789012345678"), nullptr);
  EXPECT_NE(adrvet_list::peers::ipset_name_problem("with space"), nullptr);
}

TEST(PeerExport, IpsetLeavesOutTheAllZeroAddressAndSizesTheSet) {
  Addresses values(3000);
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = i;  // 0 first
  }
  Addresses left_out;
  const std::string text =
      adrvet_list::export_text(format_named("ipset"), values, adrvet_list::ExportNames{}, left_out);
  EXPECT_EQ(left_out, Addresses{0});
  EXPECT_EQ(text.find("add adrvet-new 00:00:00:00:00:00\n"), std::string::npos);
  EXPECT_NE(text.find("\ncreate adrvet hash:mac hashsize 4096 maxelem 16777216 -exist\n"),
            std::string::npos);
}

std::vector<std::uint64_t> random_list(std::mt19937_64& rng) {
  std::uniform_int_distribution<std::size_t> size(0, 300);
  std::vector<std::uint64_t> values(size(rng));
  for (std::uint64_t& v : values) {
    // Small values now and then, for leading zeros and the all-zero address.
    v = rng() % 4 == 0 ? rng() % 4 : rng() & 0xFFFFFFFFFFFFULL;
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return values;
}

// What "nft -j list ruleset" and "nft -j list set" print, as nft 1.0.6
// prints it (each shape below taken from its output): the rules of nft's
// language apply, and a part of another shape is refused saying where.
const std::string kJsonHead =
    R"({"nftables": [{"metainfo": {"version": "1.0.6", "release_name": "Lester Gooch #5", )"
    R"("json_schema_version": 1}}, {"table": {"family": "inet", "name": "t", "handle": 1}}, )";

std::string json_set(const std::string& fields, const std::string& elements) {
  return kJsonHead + R"({"set": {"family": "inet", "name": "s", "table": "t", )" + fields +
         R"("handle": 2, "elem": [)" + elements + "]}}]}\n";
}

TEST(PeerImport, NftJsonListOutput) {
  const std::string type = R"("type": "ether_addr", )";
  const std::string a = R"("00:11:22:33:44:55")";
  const std::string b = R"("3c:22:fb:12:34:56")";
  const std::string timeouts = R"("flags": ["timeout"], )";
  expect_file_cases({
      {"nft", json_set(type, a + ", " + b), {kA, kB}, ""},
      // A comment's quotes, brackets and escapes are no part of the structure.
      {"nft",
       json_set(type, a + R"(, {"elem": {"val": )" + b + R"(, "comment": "x}\"{]\\"}})"),
       {kA, kB},
       ""},
      {"nft",
       json_set(type, R"({"elem": {"val": )" + b + R"(, "counter": {"packets": 0, "bytes": 0}}})"),
       {kB},
       ""},
      {"nft", json_set(type + timeouts, a), {kA}, ""},
      // Elements that expire are taken, with their expiry.
      {"nft",
       json_set(type + timeouts,
                a + R"(, {"elem": {"val": )" + b + R"(, "timeout": 3600, "expires": 3596}})"),
       {kA, kB},
       ""},
      {"nft",
       json_set(type + timeouts + R"("timeout": 3600, )",
                R"({"elem": {"val": )" + a + R"(, "expires": 3596}})"),
       {kA},
       ""},
      // A time or comment of another kind is refused: what it meant is unknown.
      {"nft",
       json_set(type + timeouts, R"({"elem": {"val": )" + a + R"(, "timeout": "1h"}})"),
       {},
       "1: a timeout that is not a number of seconds"},
      {"nft",
       json_set(type + timeouts, R"({"elem": {"val": )" + a + R"(, "expires": -5}})"),
       {},
       "1: a timeout that is not a number of seconds"},
      {"nft",
       json_set(type + timeouts, R"({"elem": {"val": )" + a + R"(, "timeout": 99999999999}})"),
       {},
       "1: a timeout that is not a number of seconds"},
      {"nft",
       json_set(type + timeouts + R"("timeout": 1.5, )", a),
       {kA},
       "1: a timeout that is not a number of seconds"},
      {"nft",
       json_set(type, R"({"elem": {"val": )" + a + R"(, "comment": 7}})"),
       {},
       "1: a comment that is not a string"},
      {"nft",
       json_set(type + R"("flags": ["interval"], )", R"({"range": [)" + a + ", " + b + "]}"),
       {},
       "1: a range stands for many addresses"},
      {"nft", json_set(type, R"("00:11:22:33:44")"), {}, "1: too few hex digits (need 12)"},
      {"nft",
       json_set(type, R"({"concat": [)" + a + R"(, "10.0.0.1"]})"),
       {},
       "1: not an element nft lists for a set of addresses"},
      // Sets of other things, and maps, hold no address the import takes.
      {"nft",
       json_set(R"("type": ["ether_addr", "ipv4_addr"], )",
                R"({"concat": [)" + a + R"(, "10.0.0.1"]})"),
       {},
       ""},
      {"nft", json_set(R"("type": "ipv4_addr", )", R"("10.0.0.1")"), {}, ""},
      {"nft",
       kJsonHead + R"({"map": {"family": "inet", "name": "m", "table": "t", "type": )" +
           R"("ether_addr", "map": "verdict", "elem": [[)" + a + R"(, {"accept": null}]]}}]})",
       {},
       ""},
      // Two documents, as two runs of nft -j append them: each is read.
      {"nft", json_set(type, a) + json_set(type, b), {kA, kB}, ""},
  });
}

// nft -j's comments become labels and its times (an element's "expires",
// else its "timeout", else the set's) the seconds left, as in nft's language.
TEST(PeerImport, NftJsonLabelsAndTimeouts) {
  constexpr std::int64_t kNone = ParsedLine::kForever;
  const std::string type = R"("type": "ether_addr", "flags": ["timeout"], )";
  const std::string a = R"({"elem": {"val": "00:11:22:33:44:55", )";
  const struct {
    std::string text;
    std::string label;
    std::int64_t seconds;
  } cases[] = {
      {json_set(type, a + R"("comment": "desk \"1\""}})"), "desk \"1\"", kNone},
      {json_set(type, a + R"("timeout": 300, "expires": 299, "comment": "guest"}})"), "guest", 299},
      {json_set(type, a + R"("timeout": 300}})"), "", 300},
      {json_set(type + R"("timeout": 3600, )", a + R"("expires": 3596}})"), "", 3596},
      {json_set(type + R"("timeout": 3600, )", R"("00:11:22:33:44:55")"), "", 3600},
      {json_set(type + R"("timeout": 3600, )", a + R"("timeout": 90}})"), "", 90},
      {json_set(type, a + R"("expires": 0}})"), "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Imported got = import_text(format_named("nft"), c.text);
    EXPECT_TRUE(got.invalid.empty()) << got.invalid.front();
    ASSERT_EQ(got.values, std::vector<std::uint64_t>{kA});
    EXPECT_EQ(got.notes.at(kA).first, c.label);
    EXPECT_EQ(got.notes.at(kA).second, c.seconds);
  }
}

TEST(PeerImport, NftJsonOfAnotherShapeSaysWhere) {
  const std::string set = R"({"set": {"family": "inet", "table": "t", "name": "s", )";
  const struct {
    std::string text;
    std::string invalid;  // the first refusal
    std::string where;    // and what it quotes
  } cases[] = {
      {"{\"nftables\": [1, ]}\n", "1: not valid JSON", "byte 18 of the JSON document"},
      {"{\"ruleset\": []}\n", "1: not 'nft -j list' output, an object with an \"nftables\" array",
       "{\"ruleset\": []}"},
      {R"({"nftables": [{"metainfo": {}}, {"table": {}, "set": {}}]})",
       "1: not an nft object, which has one key such as \"set\"", "nftables[1]"},
      {R"({"nftables": [{"add": {"element": {"family": "inet", "table": "t", "name": "s", )"
       R"("elem": ["00:11:22:33:44:55"]}}}]})",
       "1: a command of an 'nft -j -f' file; what 'nft -j list ruleset' prints is read",
       "nftables[0].add"},
      {R"({"nftables": [{"set": {"family": "inet", "name": "s", "type": "ether_addr"}}]})",
       "1: a set without the strings \"family\", \"table\" and \"name\"", "nftables[0].set"},
      {R"({"nftables": [{"table": {}}, )" + set + R"("type": "ether_addr", "elem": "x"}}]})",
       "1: not a list of elements", "nftables[1].set.elem"},
      {"{\"nftables\": [\n" + set + "\"type\": \"ether_addr\",\n\"elem\": [\n" +
           R"("00:11:22:33:44:55", {"range": ["00:11:22:33:44:55", "00:11:22:33:44:56"]}]}}]})",
       "4: a range stands for many addresses", "nftables[0].set.elem[1]"},
      {"{\"nftables\": []} x\n", "1: text after the JSON document nft printed", "x"},
      {std::string(40, '[') + "\n",
       "1: not an nft statement (an 'nft -f' file or 'nft list' "
       "output is read)",
       std::string(40, '[')},
      {std::string(40, '{') + "\n", "1: JSON nested far deeper than nft's output", "{"},
      {"{\"nftables\": [\n", "end: the input ends inside a JSON document", ""},
      {"{\"nftables\": [{\"set\": \"}]}\n", "end: the input ends inside a JSON document", ""},
  };
  for (const auto& c : cases) {
    const Imported got = import_text(format_named("nft"), c.text);
    ASSERT_FALSE(got.invalid.empty()) << c.text;
    EXPECT_EQ(got.invalid[0], c.invalid) << c.text;
    if (!c.where.empty()) {
      EXPECT_EQ(got.where[0].substr(0, c.where.size()), c.where) << c.text;
    }
  }
}

// The set --name, --table and --family choose, from nft -j list ruleset as
// from nft list ruleset.
TEST(PeerImport, NftJsonChoiceNarrowsToOneSet) {
  const std::string ruleset =
      R"({"nftables": [{"table": {"family": "inet", "name": "filter", "handle": 1}}, )"
      R"({"set": {"family": "inet", "name": "allowed", "table": "filter", "type": "ether_addr", )"
      R"("handle": 1, "elem": ["00:11:22:33:44:55"]}}, )"
      R"({"set": {"family": "inet", "name": "guests", "table": "filter", "type": "ether_addr", )"
      R"("handle": 2}}, {"table": {"family": "bridge", "name": "lan", "handle": 2}}, )"
      R"({"set": {"family": "bridge", "name": "allowed", "table": "lan", "type": "ether_addr", )"
      R"("handle": 1, "elem": ["3c:22:fb:12:34:56"]}}]})"
      "\n";
  expect_choices(ruleset, {
                              {"nft", {"inet", "", ""}, {kA}, ""},
                              {"nft", {"bridge", "lan", "allowed"}, {kB}, ""},
                              {"nft", {"", "", "guests"}, {}, ""},
                              {"nft",
                               {},
                               {},
                               "elements of several ether_addr sets (inet filter allowed, "
                               "bridge lan allowed); choose one with --name, --table and --family"},
                              {"nft",
                               {"ip", "", ""},
                               {},
                               "no ether_addr set matches --name, --table and --family "
                               "(the file's: bridge lan allowed, inet filter allowed, "
                               "inet filter guests)"},
                          });
}

// Random lists written as nft -j prints them, on one line or spread over
// many, with elements bare and annotated, read back whole.
TEST(PeerImport, NftJsonOverRandomLists) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  const char* const comments[] = {"lab", "a \\\"quoted\\\" {name}", "x]\\\\", "\\u00e9t\\u00e9"};
  for (int round = 0; round < 50; ++round) {
    const std::vector<std::uint64_t> values = random_list(rng);
    const bool spread = rng() % 2 == 0;
    const std::string gap = spread ? "\n  " : " ";
    std::string text = kJsonHead + gap + R"({"set": {"family": "inet", "name": "s", )" + gap +
                       R"("table": "t", "type": "ether_addr", "handle": 2, "elem": [)";
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string address = '"' + adrvet_test::colon_address(values[i]) + '"';
      text += (i == 0 ? "" : ",") + gap;
      text += rng() % 3 == 0 ? R"({"elem": {"val": )" + address + R"(, "comment": ")" +
                                   comments[rng() % std::size(comments)] + "\"}}"
                             : address;
    }
    text += gap + "]}}]}\n";
    const Imported got = import_text(format_named("nft"), text);
    ASSERT_TRUE(got.invalid.empty()) << "seed " << seed << ": " << got.invalid.front();
    std::vector<std::uint64_t> sorted = got.values;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, values) << "seed " << seed << ": " << text;
  }
}

// Export, import: the same list, in every format (ipset without the all-zero
// address, which it cannot hold).
TEST(PeerRoundTrip, EveryFormatOverRandomLists) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 50; ++round) {
    const std::vector<std::uint64_t> values = random_list(rng);
    const Addresses exported(values.begin(), values.end());
    for (const PeerFormat& format : adrvet_list::peer_formats()) {
      Addresses left_out;
      const std::string text =
          adrvet_list::export_text(format, exported, adrvet_list::ExportNames{}, left_out);
      Imported got = import_text(format, text);
      ASSERT_TRUE(got.invalid.empty()) << "seed " << seed << ": " << got.invalid.front();
      got.values.insert(got.values.end(), left_out.begin(), left_out.end());
      std::sort(got.values.begin(), got.values.end());
      ASSERT_EQ(got.values, values) << "seed " << seed << ", format " << format.name;
    }
  }
}

// Hostile labels in every export: whatever bytes a label holds, the file
// reads back as exactly the listed addresses, a comment line stays one line,
// and a quoted comment holds no quote or backslash and fits the peer.
TEST(PeerExport, HostileLabelsNeverLeaveTheirPlace) {
  const std::vector<std::string> labels = {
      "plain name",
      "quote\" } ; add element inet adrvet adrvet { 02:00:00:00:00:99",
      "back\\slash at the end \\",
      "new\nline 02:00:00:00:00:98\r\ndhcp-host=02:00:00:00:00:97",
      std::string("nul\0byte", 8),
      "bell\a esc\x1b[2J del\x7f c1\xc2\x85 bad\xff utf8",
      std::string(300, 'x'),
      std::string(150, '\xe2'),  // a cut inside nothing but broken bytes
      "\xc3\xa9" + std::string(400, 'e'),
  };
  adrvet_list::ExportNotes notes;  // no timeouts: the importers refuse elements that expire
  Addresses values;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    values.push_back(0x020000000001ULL + i);
    notes.notes.push_back({values.back(), labels[i], i % 2 == 0 ? 0 : 3600 * 24 * 365});
  }
  values.push_back(kA);  // no note at all
  adrvet_list::ExportNames names;
  names.notes = &notes;
  for (const PeerFormat& format : adrvet_list::peer_formats()) {
    SCOPED_TRACE(std::string(format.name));
    Addresses left_out;
    const std::string text = adrvet_list::export_text(format, values, names, left_out);
    Imported got = import_text(format, text);
    EXPECT_TRUE(got.invalid.empty()) << got.invalid.front();
    std::sort(got.values.begin(), got.values.end());
    std::vector<std::uint64_t> expected(values.begin(), values.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got.values, expected);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_FALSE(byte < 0x20 && c != '\t') << "a control byte in: " << line;
        EXPECT_NE(byte, 0x7F) << line;
      }
      const std::size_t comment = line.find("comment \"");
      if (comment != std::string::npos) {  // nft and ipset: one quoted string, then the end
        const std::string quoted = line.substr(comment + 9);
        const std::size_t close = quoted.find('"');
        ASSERT_NE(close, std::string::npos) << line;
        EXPECT_EQ(quoted.find('\\'), std::string::npos) << line;
        EXPECT_LE(close, format.name == "nft" ? 127U : 255U) << line;
        EXPECT_TRUE(quoted.substr(close + 1).empty() || quoted.substr(close + 1) == ",") << line;
      }
      if (line.starts_with("#") && format.name != "ipset") {  // ipset's is a fixed hint
        EXPECT_NE(line.back(), '\\') << "a continuation: " << line;
        EXPECT_LE(line.size(), 2 + adrvet_list::kMaxLabelBytes) << line;
        EXPECT_LT(line.size(), format.name == "hostapd" ? 127U : 258U) << line;
      }
    }
    const bool has_place = format.name != "plain";
    EXPECT_EQ(text.find("plain name") != std::string::npos, has_place);
    // Read back, each address has its label as the file could hold it.
    for (std::size_t i = 0; i < labels.size() && has_place; ++i) {
      const std::string held = format.name == "nft"     ? adrvet_list::quoted_label(labels[i], 127)
                               : format.name == "ipset" ? adrvet_list::quoted_label(labels[i], 255)
                               : format.name == "hostapd"
                                   ? adrvet_list::comment_label(labels[i], 96)
                                   : adrvet_list::comment_label(labels[i]);
      EXPECT_EQ(got.notes.at(values[i]).first, held) << i;
      EXPECT_EQ(adrvet_list::label_problem(held), nullptr) << i;
    }
  }
}

TEST(PeerExport, TimeoutsGiveTheSecondsLeft) {
  adrvet_list::ExportNotes notes;
  notes.timeouts = true;
  notes.notes = {{kA, "", 90}, {kB, "", 3000000}};  // beyond ipset's 2147483 s
  adrvet_list::ExportNames names;
  names.notes = &notes;
  Addresses left_out;
  const std::string nft = adrvet_list::export_text(format_named("nft"), {kA, kB}, names, left_out);
  EXPECT_NE(nft.find("\t\tflags timeout\n"), std::string::npos) << nft;
  EXPECT_NE(nft.find("00:11:22:33:44:55 timeout 90s,\n"), std::string::npos) << nft;
  EXPECT_NE(nft.find("3c:22:fb:12:34:56 timeout 3000000s\n"), std::string::npos) << nft;
  const std::string ipset =
      adrvet_list::export_text(format_named("ipset"), {kA, kB}, names, left_out);
  EXPECT_NE(ipset.find(" maxelem 16777216 timeout 0 -exist\n"), std::string::npos) << ipset;
  EXPECT_NE(ipset.find("add adrvet-new 00:11:22:33:44:55 timeout 90\n"), std::string::npos);
  EXPECT_NE(ipset.find("add adrvet-new 3c:22:fb:12:34:56\n"), std::string::npos) << ipset;
  // Without --timeouts neither the set nor its elements have any.
  notes.timeouts = false;
  EXPECT_EQ(
      adrvet_list::export_text(format_named("nft"), {kA, kB}, names, left_out).find("timeout"),
      std::string::npos);
}

// FreeRADIUS entries carry their expiry, with or without --timeouts, as an
// Expiration in seconds since the epoch (the server's zone cannot bend it)
// that the import reads back to the second.
TEST(PeerExport, FreeradiusWritesTheExpiration) {
  adrvet_list::ExportNotes notes;
  notes.notes = {{kA, "desk", 0, 1798761599}, {kB, "", 0, 0}};
  adrvet_list::ExportNames names;
  names.notes = &notes;
  Addresses left_out;
  const std::string radius =
      adrvet_list::export_text(format_named("freeradius"), {kA, kB}, names, left_out);
  EXPECT_EQ(radius,
            "# desk\n00-11-22-33-44-55 Expiration := 1798761599\n"
            "3C-22-FB-12-34-56\n");
  const Imported back = import_text(format_named("freeradius"), radius);
  EXPECT_TRUE(back.invalid.empty());
  EXPECT_EQ(back.expires_at.at(kA), 1798761599);
  EXPECT_EQ(back.expires_at.at(kB), ParsedLine::kForever);
}

}  // namespace
