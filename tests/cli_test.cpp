// ADRVET run as a process: exit statuses (as a shell sees them) and the
// exact bytes on standard output, for every result code and argument rule.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <set>

#include "crypto/crypto.h"
#include "crypto/key_versions.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::run_process;
using adrvet_test::TempDir;
using adrvet_test::to_bytes;
using adrvet_test::write_file;

const std::string kUsage =
    "Invalid arguments.\n\nCorrect usage is:\nADRVET S|U <MAC_list_path> aa:bb:cc:dd:ee::ff "
    "[D]\n\n";

std::string message(const std::string& text) { return text + "\n\n"; }
const std::string kListed = message("MAC address is in the list!");
const std::string kNotListed = message("MAC address is not in the list!!!");
const std::string kNotFound = message("File not found!!!");
const std::string kCannotLoad = message("Unable to load input file!!!");
const std::string kWrongKey = message("Wrong key!!!");
const std::string kBadData = message("Incorrect data file!!!");
const std::string kBadContents = message("Incorrect file contents!!!");
const std::string kBadFormat = message("Incorrect format of entered MAC address!!!");
const std::string kBadDigits = message("Error converting entered MAC address to number!!!");

int shell_status(int code) { return code & 0xff; }

// Lists of every kind, each in a directory of its own.
class ListFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new TempDir;
    make_list("good", "00:11:22:33:44:55\r\n52:54:00:12:34:56\naa:bb:cc:dd:ee:ff\n");
    make_list("good_u", "52:54:00:12:34:56\n", orbitforge::util::kKeyVersionU);
    make_list("packed", "112233445566AABBCCDDEEFF");
    make_list("empty", "");
    make_list("bad_length", "aa:bb:cc:dd:ee:f\n");
    make_list("bad_digit", "00:11:22:33:44:55\naa:bb:cc:dd:ee:fg\n");
    make_list("space_length", "aa bb:cc:dd:ee:ff\n");
    make_list("space_digit", "aabb ccddeef\n");
    make_list("unsorted", "aa:bb:cc:dd:ee:ff\n00:00:00:00:00:01\n");
    // Long lists in the layout adrvet-list writes, past the pieces the check reads at once.
    std::string lines;
    for (int i = 0; i < 9000; ++i) {
      char line[19];
      std::snprintf(line, sizeof line, "00:00:00:00:%02x:%02x\n", i >> 8, i & 0xff);
      lines += line;
    }
    make_list("canonical", lines);
    std::string upper = lines;
    for (char& c : upper) {
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    make_list("canonical_upper", upper);
    std::string late_bad_digit = lines;
    late_bad_digit[18 * 8500 + 4] = 'g';
    make_list("canonical_bad_digit", late_bad_digit);
    make_list("canonical_bad_length", lines + "00:00:00:00:ff:f\n");
    ::mkdir(dir("missing").c_str(), 0755);
    ::mkdir(dir("is_dir").c_str(), 0755);
    ::mkdir((dir("is_dir") + "/engine.dat").c_str(), 0755);
    ::mkdir(dir("fifo").c_str(), 0755);
    ::mkfifo((dir("fifo") + "/engine.dat").c_str(), 0600);
    ::mkdir(dir("short").c_str(), 0755);
    write_file(dir("short") + "/engine.dat", std::string("Orbit"));
    ::mkdir(dir("garbage").c_str(), 0755);
    write_file(dir("garbage") + "/engine.dat", std::string("not a container at all"));
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }

  static std::string dir(const std::string& name) { return root_->file(name); }

  static void make_list(const std::string& name, const std::string& payload,
                        int version = orbitforge::util::kKeyVersionS) {
    ::mkdir(dir(name).c_str(), 0755);
    write_file(dir(name) + "/plain", payload);
    ASSERT_TRUE(orbitforge::util::encrypt_file((dir(name) + "/plain").c_str(),
                                               (dir(name) + "/engine.dat").c_str(),
                                               orbitforge::util::key_for_version(version)));
  }

  struct Case {
    std::vector<std::string> args;  // "@name" stands for the list directory "name"
    int code;
    std::string out;
  };

  static void expect_cases(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      std::vector<std::string> args;
      std::string shown;
      for (const auto& a : c.args) {
        args.push_back(!a.empty() && a[0] == '@' ? dir(a.substr(1)) : a);
        shown += " '" + a + "'";
      }
      const auto result = run_process(ADRVET_BINARY, args);
      EXPECT_FALSE(result.timed_out) << shown;
      EXPECT_EQ(result.exit_status, shell_status(c.code)) << "ADRVET" << shown;
      EXPECT_EQ(result.out, c.out) << "ADRVET" << shown;
      EXPECT_EQ(result.err, "") << "ADRVET" << shown;
    }
  }

  static TempDir* root_;
};

TempDir* ListFixture::root_ = nullptr;

TEST_F(ListFixture, ResultCodeTable) {
  expect_cases({
      {{"S", "@good", "52:54:00:12:34:56", "D"}, 1, kListed},
      {{"S", "@good", "52:54:00:12:34:57", "D"}, 0, kNotListed},
      {{"S", "@missing", "52:54:00:12:34:56", "D"}, -1, kNotFound},
      {{"S", "@is_dir", "52:54:00:12:34:56", "D"}, -2, kCannotLoad},
      {{"S", "@fifo", "52:54:00:12:34:56", "D"}, -2, kCannotLoad},
      {{"S", "@short", "52:54:00:12:34:56", "D"}, -2, kCannotLoad},
      {{"S", "@garbage", "52:54:00:12:34:56", "D"}, -3, kWrongKey},
      {{"S", "@good_u", "52:54:00:12:34:56", "D"}, -3, kWrongKey},
      {{"U", "@good_u", "52:54:00:12:34:56", "D"}, 1, kListed},
      {{"S", "@bad_length", "52:54:00:12:34:56", "D"}, -4, kBadData},
      {{"S", "@bad_digit", "52:54:00:12:34:56", "D"}, -5, kBadContents},
      {{"S", "@space_length", "52:54:00:12:34:56", "D"}, -4, kBadData},
      {{"S", "@space_digit", "52:54:00:12:34:56", "D"}, -5, kBadContents},
      {{"S", "@good", "aabb.ccdd.eeff", "D"}, -6, kBadFormat},
      {{"S", "@good", "gg:bb:cc:dd:ee:ff", "D"}, -7, kBadDigits},
      {{"S", "@canonical", "00:00:00:00:23:27", "D"}, 1, kListed},
      {{"S", "@canonical", "00:00:00:00:23:28", "D"}, 0, kNotListed},
      {{"S", "@canonical", "00:00:00:00:00:00", "D"}, 1, kListed},
      {{"S", "@canonical_upper", "00:00:00:00:1a:bc", "D"}, 1, kListed},
      {{"S", "@canonical_bad_digit", "00:00:00:00:00:01", "D"}, -5, kBadContents},
      {{"S", "@canonical_bad_length", "00:00:00:00:00:01", "D"}, -4, kBadData},
      {{"S", "@canonical", "aabb.ccdd.eeff", "D"}, -6, kBadFormat},
      {{"S", "@canonical", "gg:bb:cc:dd:ee:ff", "D"}, -7, kBadDigits},
      // A faulty list decides before a faulty address.
      {{"S", "@bad_length", "aabb.ccdd.eeff", "D"}, -4, kBadData},
  });
}

TEST_F(ListFixture, SilentWithoutTheVerboseFlag) {
  expect_cases({
      {{"S", "@good", "52:54:00:12:34:56"}, 1, ""},
      {{"S", "@good", "52:54:00:12:34:57"}, 0, ""},
      {{"S", "@missing", "52:54:00:12:34:56"}, -1, ""},
      {{"S", "@is_dir", "52:54:00:12:34:56"}, -2, ""},
      {{"S", "@good_u", "52:54:00:12:34:56"}, -3, ""},
      {{"S", "@bad_length", "52:54:00:12:34:56"}, -4, ""},
      {{"S", "@bad_digit", "52:54:00:12:34:56"}, -5, ""},
      {{"S", "@good", "aabb.ccdd.eeff"}, -6, ""},
      {{"S", "@good", "gg:bb:cc:dd:ee:ff"}, -7, ""},
      {{"x", "@good", "52:54:00:12:34:56"}, -8, ""},
  });
}

TEST_F(ListFixture, ArgumentRules) {
  expect_cases({
      {{}, -8, kUsage},
      {{"S"}, -8, kUsage},
      {{"S", "@good"}, -8, kUsage},
      {{"s", "@good", "52:54:00:12:34:56", "D"}, 1, kListed},
      {{"u", "@good_u", "52:54:00:12:34:56", "D"}, 1, kListed},
      {{"x", "@good", "52:54:00:12:34:56", "D"}, -8, kUsage},
      {{"SU", "@good", "52:54:00:12:34:56", "D"}, -8, kUsage},
      {{"", "@good", "52:54:00:12:34:56", "D"}, -8, kUsage},
      {{"SU", "@good", "52:54:00:12:34:56"}, -8, ""},
      {{"S", "@good", "52:54:00:12:34:56", "d"}, 1, kListed},
      {{"S", "@good", "52:54:00:12:34:56", "DD"}, 1, ""},
      {{"S", "@good", "52:54:00:12:34:56", "debug"}, 1, ""},
      {{"S", "@good", "52:54:00:12:34:56", "-d"}, 1, ""},
      {{"S", "@good", "52:54:00:12:34:56", "D", "extra", "more"}, 1, kListed},
      {{"S", "@good", "52:54:00:12:34:56", "x", "D"}, 1, ""},
      // Bad arguments decide before a missing list: -8, not -1.
      {{"S", "/nonexistent", std::string(70, 'a'), "D"}, -8, kUsage},
      {{"X", "/nonexistent", "52:54:00:12:34:56", "D"}, -8, kUsage},
  });
}

TEST_F(ListFixture, EnteredAddressNotations) {
  expect_cases({
      {{"S", "@good", "aa:bb:cc:dd:ee:ff", "D"}, 1, kListed},
      {{"S", "@good", "AA-BB-CC-DD-EE-FF", "D"}, 1, kListed},
      {{"S", "@good", "aabbccddeeff", "D"}, 1, kListed},
      {{"S", "@good", "aa:bb:cc:dd:ee::ff", "D"}, 1, kListed},
      {{"S", "@good", "aa:bb:cc:dd:ee:ff\r\n", "D"}, 1, kListed},
      {{"S", "@packed", "aa-bb-cc-dd-ee-ff", "D"}, 1, kListed},
      {{"S", "@packed", "11:22:33:44:55:66", "D"}, 1, kListed},
      // Only the first 12 digits count, whatever follows.
      {{"S", "@good", "aabbccddeeffzzzzzzzzzzzz", "D"}, 1, kListed},
      {{"S", "@good", "aabbccddeeff0", "D"}, -6, kBadFormat},
      {{"S", "@good", "aa bb cc dd ee ff", "D"}, -6, kBadFormat},
      {{"S", "@good", "", "D"}, -6, kBadFormat},
      {{"S", "@good", ":::", "D"}, -6, kBadFormat},
      {{"S", "@good", "aabbccddeefg", "D"}, -7, kBadDigits},
      {{"S", "@empty", "aa:bb:cc:dd:ee:ff", "D"}, 0, kNotListed},
      {{"S", "@empty", "", "D"}, -6, kBadFormat},
  });
}

TEST_F(ListFixture, LongArgumentsAreRefusedNotOverflowed) {
  const std::string mac = "52:54:00:12:34:56";
  const std::string mac_63 = mac + std::string(63 - mac.size(), ':');
  const std::string mac_64 = mac_63 + ":";
  // "/." components keep naming the same directory while the text grows.
  std::string dir_511 = dir("good");
  while (dir_511.size() + 2 <= 511) {
    dir_511 += "/.";
  }
  if (dir_511.size() < 511) {
    dir_511 = dir_511.substr(0, dir_511.size() - 1) + "//";  // ".../" then "/" adds one
  }
  ASSERT_EQ(dir_511.size(), 511U);
  expect_cases({
      {{"S", "@good", mac_63, "D"}, 1, kListed},
      {{"S", "@good", mac_64, "D"}, -8, kUsage},
      {{"S", "@good", mac_64}, -8, ""},
      {{"S", "@good", std::string(100000, 'a'), "D"}, -8, kUsage},
      {{"S", dir_511, mac, "D"}, 1, kListed},
      {{"S", dir_511 + "x", mac, "D"}, -8, kUsage},
      {{"S", std::string(100000, '/'), mac, "D"}, -8, kUsage},
  });
}

TEST_F(ListFixture, ListDirectoryRules) {
  expect_cases({
      {{"S", dir("good") + "/", "52:54:00:12:34:56", "D"}, 1, kListed},
      {{"S", dir("good") + "//", "52:54:00:12:34:56", "D"}, 1, kListed},
      {{"S", dir("good") + "/engine.dat", "52:54:00:12:34:56", "D"}, -1, kNotFound},
  });
  if (adrvet_test::file_exists("/engine.dat")) {
    GTEST_SKIP() << "/engine.dat exists on this machine";
  }
  expect_cases({
      {{"S", "/", "52:54:00:12:34:56", "D"}, -1, kNotFound},
      {{"S", "", "52:54:00:12:34:56", "D"}, -1, kNotFound},
  });
}

TEST_F(ListFixture, UnreadableListCountsAsNotFound) {
  TempDir locked;
  ASSERT_EQ(::chmod(locked.path().c_str(), 0755), 0);
  write_file(locked.file("engine.dat"), adrvet_test::read_file(dir("good") + "/engine.dat"));
  ASSERT_EQ(::chmod(locked.file("engine.dat").c_str(), 0), 0);
  adrvet_test::ProcessOptions options;
  options.as_nobody = true;  // root reads anything; an ordinary user may not
  if (run_process(ADRVET_BINARY, {}, options).exit_status != shell_status(-8)) {
    GTEST_SKIP() << "an unprivileged user cannot run " << ADRVET_BINARY << " from here";
  }
  const auto result =
      run_process(ADRVET_BINARY, {"S", locked.path(), "52:54:00:12:34:56", "D"}, options);
  EXPECT_EQ(result.exit_status, shell_status(-1));
  EXPECT_EQ(result.out, kNotFound);
}

TEST_F(ListFixture, UnsortedListMayMissButNeverInvents) {
  const auto absent = run_process(ADRVET_BINARY, {"S", dir("unsorted"), "00:00:00:00:00:02"});
  EXPECT_EQ(absent.exit_status, 0);
}

TEST(ExhaustedMemory, ReportsCannotLoadNeverAnAnswer) {
  if (ADRVET_SANITIZED || adrvet_test::wrapped_run()) {
    GTEST_SKIP() << "sanitizers and valgrind need more address space than the limit allows";
  }
  // 64 MiB of entries without separators: a layout that is decoded in full.
  TempDir dir;
  std::string entries;
  entries.reserve(64 << 20);
  while (entries.size() < (64U << 20)) {
    entries += "a4b5c6d7e8f9";
  }
  write_file(dir.file("plain"), entries);
  entries = {};
  ASSERT_TRUE(orbitforge::util::encrypt_file(dir.file("plain").c_str(),
                                             dir.file("engine.dat").c_str(),
                                             orbitforge::util::key_for_version(1)));
  // Without the limit the list answers; with it the check must say it could not load.
  EXPECT_EQ(run_process(ADRVET_BINARY, {"S", dir.path(), "a4b5c6d7e8f9"}).exit_status, 1);
  adrvet_test::ProcessOptions options;
  options.address_space_limit = std::uint64_t{48} << 20;
  const auto result =
      run_process(ADRVET_BINARY, {"S", dir.path(), "52:54:00:12:34:56", "D"}, options);
  EXPECT_EQ(result.exit_status, shell_status(-2));
  EXPECT_EQ(result.out, kCannotLoad);
}

TEST(LargeList, HitsAndMissesAtTheEndsAndInTheMiddle) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  std::set<std::uint64_t> values;
  while (values.size() < 300000) {
    values.insert(rng() & 0xFFFFFFFFFFFFULL);
  }
  std::string text;
  text.reserve(values.size() * 18);
  for (const std::uint64_t v : values) {
    text += adrvet_test::colon_address(v) + "\n";
  }
  TempDir dir;
  write_file(dir.file("plain"), text);
  ASSERT_TRUE(orbitforge::util::encrypt_file(dir.file("plain").c_str(),
                                             dir.file("engine.dat").c_str(),
                                             orbitforge::util::key_for_version(1)));
  const std::vector<std::uint64_t> sorted(values.begin(), values.end());
  const auto hex = adrvet_test::hex12;
  const std::size_t middle = sorted.size() / 2;
  const struct {
    std::uint64_t value;
    int code;
  } probes[] = {
      {sorted.front(), 1},
      {sorted.back(), 1},
      {sorted[middle], 1},
      {sorted[1], 1},
      {sorted[sorted.size() - 2], 1},
  };
  for (const auto& p : probes) {
    EXPECT_EQ(run_process(ADRVET_BINARY, {"S", dir.path(), hex(p.value)}).exit_status, p.code)
        << hex(p.value);
  }
  // Misses: below the first, above the last, and between neighbours.
  std::vector<std::uint64_t> misses;
  if (sorted.front() > 0) {
    misses.push_back(sorted.front() - 1);
  }
  if (sorted.back() < 0xFFFFFFFFFFFFULL) {
    misses.push_back(sorted.back() + 1);
  }
  for (std::size_t i = middle; i + 1 < sorted.size() && misses.size() < 4; ++i) {
    if (sorted[i + 1] - sorted[i] > 1) {
      misses.push_back(sorted[i] + 1);
    }
  }
  for (std::uint64_t miss : misses) {
    EXPECT_EQ(run_process(ADRVET_BINARY, {"S", dir.path(), hex(miss)}).exit_status, 0) << hex(miss);
  }
}

}  // namespace
