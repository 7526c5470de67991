// The pieces of the inventory in process: expiry times against the C
// library's calendar, labels against hostile bytes, and the inventory
// payload against damage.
#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "common/inventory_time.h"
#include "formats/label_text.h"
#include "store/inventory.h"
#include "support/test_support.h"

namespace {

using adrvet_list::Inventory;
using orbitforge::util::SecretBytes;

constexpr std::int64_t kNow = 1765300000;  // 2025-12-09T17:06:40Z

struct ExpiryCase {
  std::string text;
  std::int64_t expected;  // seconds since the epoch, when accepted
  std::string problem;    // part of the reason, when refused
};

TEST(ExpiryText, TimesDatesAndDurations) {
  const std::vector<ExpiryCase> cases = {
      {"2026-12-31T23:59:59Z", 1798761599, ""},
      {"2026-12-31t23:59:59z", 1798761599, ""},
      {"2026-12-31", 1798761599, ""},  // the end of the day
      {"2026-12-31T12:00Z", 1798718400, ""},
      {"2028-02-29", 1835481599, ""},
      {"9999-12-31T23:59:59Z", adrvet_list::kLatestTime, ""},
      {"90m", kNow + 5400, ""},
      {"12h", kNow + 43200, ""},
      {"7d", kNow + 604800, ""},
      {"2w", kNow + 1209600, ""},
      {"1s", kNow + 1, ""},
      {"2027-02-29", 0, "no such day"},
      {"2100-02-29", 0, "no such day"},  // not a leap year
      {"2026-13-01", 0, "no such day"},
      {"2026-00-10", 0, "no such day"},
      {"2026-12-31T24:00:00Z", 0, "no such time"},
      {"2026-12-31T23:60Z", 0, "no such time"},
      {"2026-12-31T23:59:59", 0, "not a time"},
      {"2026-12-31T23:59:59+01:00", 0, "UTC"},
      {"2026-12-31T23:59:59Zjunk", 0, "not a time"},
      {"10000-01-01", 0, "1970 and 9999"},
      {"26-12-31", 0, "not a time"},
      {"2025-12-09T17:06:40Z", 0, "passed"},  // now itself
      {"2000-02-29", 0, "passed"},
      {"1969-12-31", 0, "1970 and 9999"},
      {"0d", 0, "zero"},
      {"000m", 0, "zero"},
      {"-5d", 0, "not a duration"},
      {"5", 0, "not a duration"},
      {"d", 0, "not a duration"},
      {"5y", 0, "not a duration"},
      {"1.5h", 0, "not a duration"},
      {"", 0, "no time"},
      {"2914800d", 0, "beyond the year 9999"},
      {"99999999999999999999999999d", 0, "beyond the year 9999"},
      {"18446744073709551617s", 0, "beyond the year 9999"},
  };
  for (const ExpiryCase& c : cases) {
    const adrvet_list::ParsedTime parsed = adrvet_list::parse_expiry(c.text, kNow);
    if (c.problem.empty()) {
      EXPECT_EQ(parsed.problem, nullptr) << c.text << ": " << parsed.problem;
      EXPECT_EQ(parsed.seconds, c.expected) << c.text;
    } else {
      ASSERT_NE(parsed.problem, nullptr) << c.text << " was taken as " << parsed.seconds;
      EXPECT_NE(std::string(parsed.problem).find(c.problem), std::string::npos)
          << c.text << ": " << parsed.problem;
    }
  }
}

// Our calendar against the C library's: every time printed reads back as
// itself, and agrees with timegm.
TEST(ExpiryText, RoundTripsAgainstTheCLibrary) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  for (int i = 0; i < 20000; ++i) {
    const auto seconds =
        static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(adrvet_list::kLatestTime + 1));
    const std::string text = adrvet_list::iso_time(seconds);
    const adrvet_list::ParsedTime parsed = adrvet_list::parse_iso_time(text);
    ASSERT_EQ(parsed.problem, nullptr) << text << " seed " << seed;
    ASSERT_EQ(parsed.seconds, seconds) << text << " seed " << seed;
    std::tm parts{};
    ASSERT_NE(strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts), nullptr) << text;
    ASSERT_EQ(static_cast<std::int64_t>(timegm(&parts)), seconds) << text << " seed " << seed;
  }
}

struct LabelCase {
  std::string label;
  const char* problem;  // part of the reason, or nullptr
};

TEST(Labels, OnlyPrintableUtf8IsStored) {
  const std::vector<LabelCase> cases = {
      {"Zo\xC3\xAB's iPhone \xF0\x9F\x93\xB1", nullptr},
      {std::string(255, 'a'), nullptr},
      {"a \"quoted\" \\ label; # $x {y}", nullptr},
      {std::string(256, 'a'), "longer than 255"},
      {"line\nbreak", "control"},
      {"tab\there", "control"},
      {std::string("nul\0byte", 8), "control"},
      {"del\x7F", "control"},
      {"c1 \xC2\x85 next line", "control"},
      {"overlong \xC0\xAF", "UTF-8"},
      {"overlong \xE0\x80\xAF", "UTF-8"},
      {"surrogate \xED\xA0\x80", "UTF-8"},
      {"beyond \xF4\x90\x80\x80", "UTF-8"},
      {"cut \xE2\x82", "UTF-8"},
      {"latin-1 caf\xE9", "UTF-8"},
      {"\xFF\xFE", "UTF-8"},
  };
  for (const LabelCase& c : cases) {
    const char* problem = adrvet_list::label_problem(c.label);
    if (c.problem == nullptr) {
      EXPECT_EQ(problem, nullptr) << c.label;
    } else {
      ASSERT_NE(problem, nullptr) << c.label;
      EXPECT_NE(std::string(problem).find(c.problem), std::string::npos) << problem;
    }
  }
}

// Whatever bytes a label holds, its quoted and comment forms stay in their
// place: no quote, backslash or line end, valid UTF-8, within the limit.
TEST(Labels, HostileBytesNeverLeaveTheirPlace) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  std::vector<std::string> labels = {"\"; flush ruleset; \"", "a\\", "x\n# y\r\n",
                                     "\xC3\xA9\xC3\xA9\xC3\xA9", std::string(300, '"')};
  for (int i = 0; i < 2000; ++i) {
    const adrvet_test::Bytes bytes = adrvet_test::random_bytes(rng, rng() % 400);
    labels.emplace_back(bytes.begin(), bytes.end());
  }
  for (const std::string& label : labels) {
    for (const std::size_t limit : {std::size_t{5}, std::size_t{127}, std::size_t{255}}) {
      const std::string quoted = adrvet_list::quoted_label(label, limit);
      EXPECT_LE(quoted.size(), limit);
      EXPECT_EQ(quoted.find_first_of(std::string("\"\\\n\r\0", 5)), std::string::npos) << quoted;
      EXPECT_EQ(adrvet_list::label_problem(quoted), nullptr) << quoted << " seed " << seed;
    }
    const std::string comment = adrvet_list::comment_label(label);
    EXPECT_EQ(comment.find_first_of(std::string("\n\r\0", 3)), std::string::npos);
    EXPECT_TRUE(comment.empty() || comment.back() != '\\');
    EXPECT_EQ(adrvet_list::label_problem(comment), nullptr) << comment << " seed " << seed;
  }
  // A cut never splits a character.
  EXPECT_EQ(adrvet_list::quoted_label("\xC3\xA9\xC3\xA9\xC3\xA9", 5), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(adrvet_list::quoted_label("say \"hi\"", 64), "say _hi_");
}

SecretBytes bytes_of(const std::string& text) { return {text.begin(), text.end()}; }
std::string text_of(const SecretBytes& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(InventoryPayload, EveryByteOfALabelRoundTrips) {
  Inventory inventory;
  const std::uint32_t origin = inventory.add_origin(kNow, "root (sudo: al ice%)");
  std::string all_bytes;
  for (int c = 1; c < 256; ++c) {
    all_bytes += static_cast<char>(c);
  }
  const std::vector<std::string> labels = {"-", "%", "%2d", " ", all_bytes, "a b\nc"};
  for (std::size_t i = 0; i < labels.size(); ++i) {
    inventory.entries.push_back({0x001122334400ULL + i, static_cast<std::int64_t>(i) - 1,
                                 i % 2 == 0 ? origin : Inventory::kNone,
                                 inventory.add_label(labels[i])});
  }
  const SecretBytes payload = inventory.serialize();
  std::string problem;
  const auto read = Inventory::parse(payload, problem);
  ASSERT_TRUE(read) << problem;
  ASSERT_EQ(read->entries.size(), labels.size());
  for (std::size_t i = 0; i < labels.size(); ++i) {
    EXPECT_TRUE(same_entry(inventory, inventory.entries[i], *read, read->entries[i])) << i;
    EXPECT_EQ(read->label_of(read->entries[i]), labels[i]);
  }
  // One line per entry: no label can add a line or a field.
  const std::string text = text_of(payload);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + static_cast<long>(labels.size()));
  EXPECT_EQ(read->serialize(), payload);
}

struct DamageCase {
  std::string payload;
  std::string problem;
};

TEST(InventoryPayload, DamageIsFoundWithItsLine) {
  const std::string head = "adrvet-inventory 1\n";
  const std::vector<DamageCase> cases = {
      {"", "line 1: not an inventory"},
      {"adrvet-inventory 3\n", "line 1: not an inventory"},
      {"adrvet-inventory 1", "line 1: not an inventory"},
      {"adrvet-inventory 2\n", "line 2: not the line of the list's common origin"},
      {"adrvet-inventory 2\nd 5\n", "line 2: not the line of the list's common origin"},
      {"adrvet-inventory 2\nd x root\n", "line 2: not the line of the list's common origin"},
      {"adrvet-inventory 2\nd 5 %zz\n", "line 2: not the line of the list's common origin"},
      {"adrvet-inventory 2\no 0 5 root\n", "line 2: not the line of the list's common origin"},
      {"adrvet-inventory 2\nd 5 root", "line 2: the last line has no line end"},
      {"adrvet-inventory 2\nd 5 root\nd 6 root\n", "line 3: not an entry line"},
      {head + "d 5 root\n", "line 2: not an entry line"},  // version 1 has none
      {head + "001122334455 - - -", "line 2: the last line has no line end"},
      {head + "001122334455 - -\n", "line 2: not an entry line"},
      {head + "001122334455 - - - x\n", "line 2: not an entry line"},
      {head + "0011223344 - - -\n", "line 2: not an entry line"},
      {head + "00112233445G - - -\n", "line 2: not an entry line"},
      {head + "001122334455 - 12x -\n", "line 2: not an entry line"},
      {head + "001122334455 - - %4\n", "line 2: not an entry line"},
      {head + "001122334455 - - %zz\n", "line 2: not an entry line"},
      {head + "001122334455 0 - -\n", "line 2: the entry names an origin that is not declared"},
      {head + "o 1 5 root\n", "line 2: not an origin line"},
      {head + "o 0 5 root\n001122334455 - - -\n001122334455 - - -\n",
       "line 4: the entries are not in ascending order"},
      {head + "001122334455 - - -\no 0 5 root\n", "line 3: an origin line after the entries"},
      {head + "\n", "line 2: not an entry line"},
  };
  for (const DamageCase& c : cases) {
    std::string problem;
    EXPECT_FALSE(Inventory::parse(bytes_of(c.payload), problem)) << c.payload;
    EXPECT_EQ(problem, c.problem) << c.payload;
  }
}

// A list's common origin: written once, whatever the number of addresses;
// an address with an entry line keeps it, one whose line says nothing has
// no data, and an inventory without one is written as version 1 still.
TEST(InventoryPayload, ACommonOriginStandsForEveryAddressWithoutAnEntryLine) {
  Inventory inventory;
  inventory.set_common_origin(inventory.add_origin(kNow, "root (sudo: b%b)"));
  const std::uint32_t later = inventory.add_origin(kNow + 60, "carol");
  inventory.entries.push_back({0x10, Inventory::kNever, Inventory::kNone, Inventory::kNone});
  inventory.entries.push_back({0x20, kNow + 3600, later, inventory.add_label("lobby")});
  const SecretBytes payload = inventory.serialize();
  EXPECT_EQ(text_of(payload),
            "adrvet-inventory 2\nd 1765300000 root%20(sudo:%20b%25b)\no 0 1765300060 carol\n"
            "000000000010 - - -\n000000000020 0 1765303600 lobby\n");
  std::string problem;
  const auto read = Inventory::parse(payload, problem);
  ASSERT_TRUE(read) << problem;
  EXPECT_EQ(read->serialize(), payload);

  struct Expected {
    std::uint64_t address;
    bool known;
    std::int64_t added;
    std::string user;
    std::string label;
  };
  const std::vector<Expected> cases = {
      {0x05, true, kNow, "root (sudo: b%b)", ""},  // no line: the common origin
      {0x10, false, 0, "", ""},                    // a line that says nothing
      {0x20, true, kNow + 60, "carol", "lobby"},
  };
  for (const Expected& c : cases) {
    const std::optional<Inventory::Entry> entry = read->entry_of(c.address);
    const Inventory::Origin* origin = entry ? read->origin_of(*entry) : nullptr;
    ASSERT_EQ(origin != nullptr, c.known) << c.address;
    if (c.known) {
      EXPECT_EQ(entry->address, c.address);
      EXPECT_EQ(origin->time, c.added) << c.address;
      EXPECT_EQ(read->user_of(*origin), c.user) << c.address;
      EXPECT_EQ(read->label_of(*entry), c.label) << c.address;
    }
  }
  EXPECT_EQ(read->find(0x05), nullptr);
  EXPECT_EQ(read->known_count(7), 6U);

  Inventory plain;
  plain.entries.push_back(
      {0x10, Inventory::kNever, plain.add_origin(kNow, "root"), Inventory::kNone});
  EXPECT_EQ(text_of(plain.serialize()),
            "adrvet-inventory 1\no 0 1765300000 root\n000000000010 0 - -\n");
  EXPECT_FALSE(plain.entry_of(0x05));
  EXPECT_EQ(plain.known_count(7), 1U);
}

struct FoldCase {
  const char* name;
  std::vector<int> origins;  // per entry: the origin's index, -1 for none
  std::vector<bool> named;   // per entry: has a label
  bool folded;
  int common;                       // the origin taken, when folded
  std::vector<std::uint64_t> kept;  // the entry lines left
};

// An inventory an earlier version wrote, a line per address: the origin
// most lines with nothing else share becomes the common one; lines with a
// label, another origin or none stay.
TEST(InventoryPayload, LinesOfEveryAddressFoldIntoTheCommonOrigin) {
  const std::vector<FoldCase> cases = {
      {"all alike", {0, 0, 0}, {false, false, false}, true, 0, {}},
      {"the most", {0, 1, 1, 0, 1}, {false, false, false, false, false}, true, 1, {0, 3}},
      {"named stay", {0, 0, 1}, {true, true, false}, true, 1, {0, 1}},
      {"none stay", {-1, 0, -1}, {false, false, false}, true, 0, {0, 2}},
      {"nothing to take", {-1, 0}, {false, true}, false, 0, {0, 1}},
      {"empty", {}, {}, false, 0, {}},
  };
  for (const FoldCase& c : cases) {
    Inventory inventory;
    const std::uint32_t origins[] = {inventory.add_origin(kNow, "a"),
                                     inventory.add_origin(kNow + 1, "b")};
    for (std::size_t i = 0; i < c.origins.size(); ++i) {
      inventory.entries.push_back(
          {i, Inventory::kNever,
           c.origins[i] < 0 ? Inventory::kNone : origins[static_cast<std::size_t>(c.origins[i])],
           c.named[i] ? inventory.add_label("x") : Inventory::kNone});
    }
    ASSERT_EQ(inventory.fold_common_origin(), c.folded) << c.name;
    std::vector<std::uint64_t> kept;
    for (const Inventory::Entry& entry : inventory.entries) {
      kept.push_back(entry.address);
    }
    EXPECT_EQ(kept, c.kept) << c.name;
    EXPECT_EQ(inventory.has_common_origin(), c.folded) << c.name;
    if (c.folded) {
      const std::optional<Inventory::Entry> entry = inventory.entry_of(99);
      ASSERT_TRUE(entry) << c.name;
      EXPECT_EQ(inventory.origin_of(*entry)->time, kNow + c.common) << c.name;
      EXPECT_FALSE(inventory.fold_common_origin()) << c.name;  // once only
    }
  }
}

TEST(InventoryPayload, EntriesOfUnlistedAddressesAreDropped) {
  Inventory inventory;
  for (const std::uint64_t address : {1U, 3U, 5U, 7U, 9U}) {
    inventory.entries.push_back({address, Inventory::kNever, Inventory::kNone, Inventory::kNone});
  }
  EXPECT_EQ(inventory.keep_only({0, 3, 4, 9, 10}), 3U);
  ASSERT_EQ(inventory.entries.size(), 2U);
  EXPECT_EQ(inventory.entries[0].address, 3U);
  EXPECT_EQ(inventory.entries[1].address, 9U);
  EXPECT_EQ(inventory.keep_only({}), 2U);
  EXPECT_TRUE(inventory.entries.empty());
}

}  // namespace
