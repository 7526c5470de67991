// pack of large inputs: the sort that merges what an earlier compaction
// sorted, the statements of a file compacted while read, and the list
// written a piece at a time, each against a plain set model or the
// whole-list writer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/key_versions.h"
#include "input/peer_statements.h"
#include "store/address_set.h"
#include "store/list_store.h"
#include "support/test_support.h"

namespace {

using adrvet_list::Addresses;
using adrvet_test::ProcessResult;
using adrvet_test::TempDir;

// `count` values drawn from `pool` distinct ones (duplicates when pool <
// count), low bits only when `narrow`, so that the radix sort's skipping of
// equal bytes is reached too.
Addresses draw(std::mt19937_64& rng, std::size_t count, std::size_t pool, bool narrow) {
  Addresses values;
  values.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t v = rng() % pool;
    values.push_back(narrow ? v : (v * 0x9E3779B97F4A7C15ULL) & 0xFFFFFFFFFFFFULL);
  }
  return values;
}

Addresses model_of(const Addresses& values) {
  const std::set<std::uint64_t> unique(values.begin(), values.end());
  return {unique.begin(), unique.end()};
}

TEST(SortUniqueAfter, AgreesWithASetForEverySplitAndDuplicateRate) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  // Sizes on both sides of the comparison sort's 4096 and the in-cache 64.
  for (const std::size_t size : {0UL, 1UL, 2UL, 63UL, 64UL, 4095UL, 4096UL, 5000UL, 70000UL}) {
    for (const std::size_t pool : {size + 1, size / 2 + 1, std::size_t{3}}) {
      for (const bool narrow : {false, true}) {
        Addresses values = draw(rng, size, pool, narrow);
        const Addresses expected = model_of(values);
        // The prefix is sorted the way a compaction leaves it.
        const std::size_t split = size == 0 ? 0 : rng() % (size + 1);
        Addresses head(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(split));
        adrvet_list::sort_unique(head);
        Addresses input = head;
        input.insert(input.end(), values.begin() + static_cast<std::ptrdiff_t>(split),
                     values.end());
        const std::size_t before = input.size();
        const std::size_t dropped = adrvet_list::sort_unique_after(input, head.size());
        SCOPED_TRACE("seed " + std::to_string(seed) + ", size " + std::to_string(size) + ", pool " +
                     std::to_string(pool) + ", split " + std::to_string(split));
        EXPECT_EQ(input, expected);
        EXPECT_EQ(dropped, before - expected.size());
      }
    }
  }
}

TEST(SortUnique, SortedInputIsLeftAndUnsortedOrDuplicatedInputSorted) {
  const struct {
    Addresses in;
    Addresses out;
    std::size_t dropped;
  } cases[] = {
      {{1, 2, 3}, {1, 2, 3}, 0},
      {{1, 1, 2}, {1, 2}, 1},  // ascending, not strictly: still
                               // de-duplicated
      {{3, 2, 1}, {1, 2, 3}, 0},
      {{2, 1, 2, 1}, {1, 2}, 2},
      {{}, {}, 0},
  };
  for (auto c : cases) {
    EXPECT_EQ(adrvet_list::sort_unique(c.in), c.dropped);
    EXPECT_EQ(c.in, c.out);
  }
}

// The import's schedule: compacted whenever the additions double, then
// once more at the end; what comes out is the set, sorted.
TEST(PeerStatements, CompactedAsReadTheyHoldTheSetOfWhatWasAdded) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  for (const std::size_t pool : {std::size_t{50000}, std::size_t{400}, std::size_t{1} << 40U}) {
    const Addresses added = draw(rng, 120000, pool, false);
    adrvet_list::PeerStatements statements;
    std::size_t duplicates = 0;
    std::size_t compact_at = 10000;
    for (const std::uint64_t v : added) {
      statements.add(v);
      if (statements.size() >= compact_at) {
        duplicates += statements.compact();
        compact_at = std::max<std::size_t>(10000, 2 * statements.size());
      }
    }
    duplicates += statements.finish_compaction();
    Addresses out;
    statements.move_into(out);
    const Addresses expected = model_of(added);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", pool " + std::to_string(pool));
    EXPECT_EQ(out, expected);
    EXPECT_EQ(duplicates, added.size() - expected.size());
    EXPECT_EQ(statements.size(), 0U);
  }
}

// Never compacted, the additions keep their order (small inputs, and the
// statements of files with removals).
TEST(PeerStatements, UncompactedAdditionsKeepTheirOrder) {
  adrvet_list::PeerStatements statements;
  for (const std::uint64_t v : {5ULL, 3ULL, 5ULL, 1ULL}) {
    statements.add(v);
  }
  EXPECT_EQ(statements.finish_compaction(), 0U);
  Addresses out{9};
  statements.move_into(out);
  EXPECT_EQ(out, (Addresses{9, 5, 3, 5, 1}));
}

std::string colon_lines(const Addresses& values) {
  std::string text;
  for (const std::uint64_t v : values) {
    text += adrvet_test::colon_address(v) + "\n";
  }
  return text;
}

// Over a million lines in the notations pack reads, many of them twice:
// the list written is the set in canonical order, byte for byte the
// container the whole-list writer makes of it.
TEST(LargePack, AMillionLinesWithDuplicatesGiveTheSetWrittenAsAWhole) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  const Addresses drawn = draw(rng, 1300000, 900000, false);
  std::string input;
  input.reserve(drawn.size() * 18);
  for (std::size_t i = 0; i < drawn.size(); ++i) {
    std::string text = adrvet_test::colon_address(drawn[i]);
    if (i % 3 == 1) {
      text.erase(std::remove(text.begin(), text.end(), ':'), text.end());
    } else if (i % 3 == 2) {
      std::transform(text.begin(), text.end(), text.begin(),
                     [](char c) { return c == ':' ? '-' : static_cast<char>(std::toupper(c)); });
    }
    input += text + "\n";
  }
  TempDir dir;
  adrvet_test::write_file(dir.file("in.txt"), input);
  const ProcessResult packed = adrvet_test::run_list_tool(
      {"pack", "-k", "S", dir.file("in.txt"), dir.file("list")}, "", 120);
  ASSERT_EQ(packed.exit_status, 0) << packed.err;
  const Addresses expected = model_of(drawn);
  const std::size_t duplicates = drawn.size() - expected.size();
  SCOPED_TRACE("seed " + std::to_string(seed));
  EXPECT_NE(packed.err.find("wrote " + std::to_string(expected.size()) + " addresses to " +
                            dir.file("list") + "/engine.dat (" + std::to_string(duplicates) +
                            " duplicates dropped)"),
            std::string::npos)
      << packed.err;
  // The whole-list writer's container of the same set.
  const std::string plain = colon_lines(expected);
  adrvet_test::write_file(dir.file("plain"), plain);
  ASSERT_TRUE(orbitforge::util::encrypt_file(dir.file("plain").c_str(),
                                             dir.file("whole.dat").c_str(),
                                             orbitforge::util::key_for_version(1)));
  EXPECT_TRUE(adrvet_test::read_file(dir.file("list") + "/engine.dat") ==
              adrvet_test::read_file(dir.file("whole.dat")));
}

// A FIFO named as the list cannot be streamed into: it is written whole,
// as before, and what arrives is the container a file gets.
TEST(LargePack, AFifoAsTheListGetsTheWholeContainer) {
  TempDir dir;
  adrvet_test::write_file(dir.file("in.txt"),
                          std::string("00:11:22:33:44:55\n02:00:00:00:00:01\n"));
  ASSERT_EQ(adrvet_test::run_list_tool(
                {"pack", "-k", "S", "--quiet", dir.file("in.txt"), dir.file("file.dat")})
                .exit_status,
            0);
  ASSERT_EQ(::mkfifo(dir.file("fifo.dat").c_str(), 0600), 0);
  adrvet_test::Bytes arrived;
  std::thread reader([&] { arrived = adrvet_test::read_file(dir.file("fifo.dat")); });
  const ProcessResult packed = adrvet_test::run_list_tool(
      {"pack", "-k", "S", "--quiet", dir.file("in.txt"), dir.file("fifo.dat")});
  reader.join();
  EXPECT_EQ(packed.exit_status, 0) << packed.err;
  EXPECT_TRUE(arrived == adrvet_test::read_file(dir.file("file.dat")));
}

// Over a list that does not open, every address enters: the note names
// them, as it did when the change report was built from the old list.
TEST(LargePack, OverAnUnusableListEveryAddressIsSaidToEnter) {
  TempDir dir;
  adrvet_test::write_file(dir.file("in.txt"), std::string("00:11:22:33:44:55\n"));
  ASSERT_EQ(::mkdir(dir.file("list").c_str(), 0700), 0);
  adrvet_test::write_file(dir.file("list") + "/engine.dat", std::string(48, 'x'));
  const ProcessResult packed =
      adrvet_test::run_list_tool({"pack", "-k", "S", dir.file("in.txt"), dir.file("list")});
  ASSERT_EQ(packed.exit_status, 0) << packed.err;
  EXPECT_NE(packed.err.find("replaced a list of 0 addresses: 0 left, 1 entered "
                            "(00:11:22:33:44:55)"),
            std::string::npos)
      << packed.err;
}

// The list packed over is read piece by piece when it is in pack's own
// layout and whole otherwise: either way the same addresses were there.
TEST(LargePack, OverAListInAnyLayoutTheSameChangeIsSaid) {
  struct Case {
    const char* layout;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"pack's own", "00:11:22:33:44:0a\n00:11:22:33:44:0b\n00:11:22:33:44:0c\n"},
      {"upper case", "00:11:22:33:44:0A\n00:11:22:33:44:0B\n00:11:22:33:44:0C\n"},
      {"out of order, repeated",
       "00:11:22:33:44:0c\n00:11:22:33:44:0a\n00:11:22:33:44:0c\n00:11:22:33:44:0b\n"},
      {"bare digits", "00112233440a\n00112233440b\n00112233440c\n"},
      {"dashes", "00-11-22-33-44-0a\n00-11-22-33-44-0b\n00-11-22-33-44-0c\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("list").c_str(), 0700), 0);
    ASSERT_TRUE(adrvet_test::write_list_text(dir.file("list") + "/engine.dat", c.text));
    const ProcessResult packed =
        adrvet_test::run_list_tool({"pack", "-k", "S", "-", dir.file("list")},
                                   "00:11:22:33:44:0b\n00:11:22:33:44:0c\n00:11:22:33:44:0d\n");
    ASSERT_EQ(packed.exit_status, 0) << c.layout << ": " << packed.err;
    EXPECT_NE(packed.err.find("replaced a list of 3 addresses: 1 left (00:11:22:33:44:0a), "
                              "1 entered (00:11:22:33:44:0d)"),
              std::string::npos)
        << c.layout << ": " << packed.err;
  }
}

}  // namespace
