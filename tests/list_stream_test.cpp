// add and remove streamed from the old container into the new one: the
// merge against the whole-list merge on random lists, the lists it must
// leave to the whole-list path, and the memory it needs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "crypto/container.h"
#include "crypto/key_versions.h"
#include "store/address_set.h"
#include "store/list_store.h"
#include "store/list_stream.h"
#include "support/test_support.h"

namespace {

using adrvet_list::Addresses;
using adrvet_list::LineMerge;
using adrvet_list::StreamRequest;
using adrvet_test::TempDir;

Addresses random_set(std::mt19937_64& rng, std::size_t count, std::uint64_t mask) {
  std::set<std::uint64_t> values;
  while (values.size() < count) {
    values.insert(rng() & mask);
  }
  return {values.begin(), values.end()};
}

std::string text_of(const Addresses& values) {
  const orbitforge::util::SecretBytes payload = adrvet_list::canonical_payload(values);
  return {payload.begin(), payload.end()};
}

struct Merged {
  std::string text;
  bool took = true;
  adrvet_list::StreamSummary summary;
};

// Runs the merge over `text` cut into pieces of whole lines at random.
Merged merge_in_pieces(std::string text, const StreamRequest& request, std::mt19937_64& rng) {
  Merged merged;
  LineMerge merge(request, [&merged](const unsigned char* out, std::size_t size) {
    merged.text.append(reinterpret_cast<const char*>(out), size);
    return true;
  });
  std::size_t at = 0;
  while (at < text.size() && merged.took) {
    const std::size_t piece = std::min(text.size() - at, (rng() % 40 + 1) * 18);
    merged.took = merge.take(reinterpret_cast<unsigned char*>(text.data() + at), piece);
    at += piece;
  }
  merged.took = merged.took && merge.finish();
  merged.summary = merge.summary();
  return merged;
}

TEST(LineMerge, GivesTheWholeListMergeOnRandomLists) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 300; ++round) {
    // A narrow range now and then, so that requests hit listed addresses.
    const std::uint64_t mask = round % 3 == 0 ? 0x3ffU : 0xffffffffffffULL;
    const std::size_t listed_count = rng() % 400;
    const Addresses listed = random_set(rng, std::min<std::size_t>(listed_count, mask / 2), mask);
    const Addresses requested = random_set(rng, rng() % 12, mask);
    const Addresses probes = random_set(rng, rng() % 50, mask);
    for (const bool adding : {true, false}) {
      Addresses changed;
      Addresses unchanged;
      for (const std::uint64_t value : requested) {
        const bool present = std::binary_search(listed.begin(), listed.end(), value);
        (present == adding ? unchanged : changed).push_back(value);
      }
      const Addresses expected =
          adding ? adrvet_list::merged(listed, changed) : adrvet_list::difference(listed, changed);
      Addresses probes_listed;
      std::set_intersection(probes.begin(), probes.end(), listed.begin(), listed.end(),
                            std::back_inserter(probes_listed));
      const Merged got = merge_in_pieces(text_of(listed), {requested, adding, probes}, rng);
      SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round) +
                   (adding ? ", add" : ", remove"));
      ASSERT_TRUE(got.took);
      EXPECT_EQ(got.text, text_of(expected));
      EXPECT_EQ(got.summary.changed, changed);
      EXPECT_EQ(got.summary.unchanged, unchanged);
      EXPECT_EQ(got.summary.probes_listed, probes_listed);
      EXPECT_EQ(got.summary.before, listed.size());
      EXPECT_EQ(got.summary.after, expected.size());
      EXPECT_TRUE(got.summary.tidy);
    }
  }
}

TEST(LineMerge, UpperCaseTextIsWrittenInLowerCaseAndCountsAsUntidy) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  const Addresses listed = {0xaabbccddeeffULL, 0xabcdef012345ULL, 0xfedcba987654ULL};
  std::string text = text_of(listed);
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  });
  const Addresses requested = {0xabcdef012345ULL};
  const Addresses none;
  const Merged got = merge_in_pieces(text, {requested, true, none}, rng);
  ASSERT_TRUE(got.took);
  EXPECT_EQ(got.text, text_of(listed));
  EXPECT_FALSE(got.summary.tidy);
  EXPECT_TRUE(got.summary.changed.empty());
}

TEST(LineMerge, RefusesWhatItCannotMergeInOnePass) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  const std::string a = "00:00:00:00:00:01\n";
  const std::string b = "00:00:00:00:00:02\n";
  const std::string c = "00:00:00:00:01:00\n";
  struct Case {
    const char* name;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"descending", b + a},
      {"a duplicate", a + b + b + c},
      {"descending in the last byte only", "00:00:00:00:00:0f\n00:00:00:00:00:0e\n"},
      {"no colons", "000000000001\n000000000002\n000000000003\n"},
      {"carriage returns", "00:00:00:00:00:01\r00:00:00:00:00:02\r"},
      {"a non-hex digit", a + "00:00:00:00:00:0g\n"},
  };
  const Addresses requested = {0x5ULL};
  const Addresses none;
  for (const Case& c_ : cases) {
    for (const bool adding : {true, false}) {
      std::string text = c_.text;
      LineMerge merge({requested, adding, none},
                      [](const unsigned char*, std::size_t) { return true; });
      EXPECT_FALSE(merge.take(reinterpret_cast<unsigned char*>(text.data()), text.size()))
          << c_.name;
    }
  }
  // Out of order across two pieces: each piece is ascending on its own.
  std::string first = a + c;
  std::string second = b;
  LineMerge merge({requested, true, none}, [](const unsigned char*, std::size_t) { return true; });
  EXPECT_TRUE(merge.take(reinterpret_cast<unsigned char*>(first.data()), first.size()));
  EXPECT_FALSE(merge.take(reinterpret_cast<unsigned char*>(second.data()), second.size()));
  (void)rng;
}

std::string unpacked(const std::string& path) {
  const adrvet_test::ProcessResult result =
      adrvet_test::run_list_tool({"unpack", "-k", "S", path, "-"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

std::vector<std::string> colon_texts(const Addresses& values) {
  std::vector<std::string> texts;
  for (const std::uint64_t v : values) {
    texts.push_back(adrvet_test::colon_address(v));
  }
  return texts;
}

TEST(StreamedUpdate, AddAndRemoveOnLargeRandomListsAgreeWithTheSetModel) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  TempDir dir;
  const std::string path = dir.file("engine.dat");
  // Unicast, globally administered: no warnings on standard error.
  Addresses model = random_set(rng, 30000, 0xfcffffffffffULL);
  ASSERT_TRUE(adrvet_test::write_list_text(path, text_of(model)));
  for (int round = 0; round < 6; ++round) {
    const bool adding = round % 2 == 0;
    Addresses requested = random_set(rng, 1 + rng() % 5, 0xfcffffffffffULL);
    requested.push_back(model[rng() % model.size()]);  // one listed
    adrvet_list::sort_unique(requested);
    std::vector<std::string> args = {adding ? "add" : "remove", "-k", "S", path};
    for (const std::string& text : colon_texts(requested)) {
      args.push_back(text);
    }
    const adrvet_test::ProcessResult result = adrvet_test::run_list_tool(args);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
    ASSERT_EQ(result.exit_status, 0) << result.err;
    Addresses changed;
    for (const std::uint64_t value : requested) {
      if (std::binary_search(model.begin(), model.end(), value) != adding) {
        changed.push_back(value);
      }
    }
    model = adding ? adrvet_list::merged(model, changed) : adrvet_list::difference(model, changed);
    EXPECT_NE(result.err.find(std::string(adding ? "added " : "removed ") +
                              std::to_string(changed.size()) + " address"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(unpacked(path), text_of(model));
  }
}

TEST(StreamedUpdate, ListsInOtherLayoutsOrOrdersAreRewrittenAsTheWholeListPathDid) {
  struct Case {
    const char* name;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"upper case", "00:00:00:00:00:01\nAA:BB:CC:DD:EE:FF\n"},
      {"bare digits", "000000000001\naabbccddeeff\n"},
      {"out of order", "aa:bb:cc:dd:ee:ff\n00:00:00:00:00:01\n"},
      {"a duplicate", "00:00:00:00:00:01\n00:00:00:00:00:01\naa:bb:cc:dd:ee:ff\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.file("engine.dat");
    ASSERT_TRUE(adrvet_test::write_list_text(path, c.text));
    const adrvet_test::ProcessResult result =
        adrvet_test::run_list_tool({"add", "-k", "S", path, "02:00:00:00:00:05"});
    EXPECT_EQ(result.exit_status, 0) << c.name << ": " << result.err;
    EXPECT_EQ(unpacked(path), "00:00:00:00:00:01\n02:00:00:00:00:05\naa:bb:cc:dd:ee:ff\n")
        << c.name;
  }
}

TEST(StreamedUpdate, AChangeThatChangesNothingLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string path = dir.file("engine.dat");
  std::mt19937_64 rng(adrvet_test::test_seed());
  const Addresses listed = random_set(rng, 20000, 0xfcffffffffffULL);
  ASSERT_TRUE(adrvet_test::write_list_text(path, text_of(listed)));
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  const adrvet_test::Bytes bytes = adrvet_test::read_file(path);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"add", "-k", "S", path, adrvet_test::colon_address(listed[123])},
           {"remove", "-k", "S", path, "02:00:00:00:00:07"}}) {
    const adrvet_test::ProcessResult result = adrvet_test::run_list_tool(args);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_NE(result.err.find(args[0] == "add" ? "added 0 addresses" : "removed 0 addresses"),
              std::string::npos)
        << result.err;
  }
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(adrvet_test::read_file(path), bytes);
  EXPECT_TRUE(adrvet_test::temporary_files(dir.path()).empty());
}

TEST(StreamedUpdate, RemovingTheLastAddressesStillNeedsAllowEmpty) {
  TempDir dir;
  const std::string path = dir.file("engine.dat");
  ASSERT_TRUE(adrvet_test::write_list_text(path, "00:00:00:00:00:01\n00:00:00:00:00:02\n"));
  const adrvet_test::Bytes bytes = adrvet_test::read_file(path);
  const std::vector<std::string> args = {"remove",           "-k", "S", path, "00:00:00:00:00:01",
                                         "00:00:00:00:00:02"};
  const adrvet_test::ProcessResult refused = adrvet_test::run_list_tool(args);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find("would be left with no address"), std::string::npos) << refused.err;
  EXPECT_EQ(adrvet_test::read_file(path), bytes);
  EXPECT_TRUE(adrvet_test::temporary_files(dir.path()).empty());
  std::vector<std::string> allowed = args;
  allowed.insert(allowed.begin() + 1, "--allow-empty");
  EXPECT_EQ(adrvet_test::run_list_tool(allowed).exit_status, 0);
  EXPECT_EQ(unpacked(path), "");
}

TEST(StreamedUpdate, CutShortAndWrongKeyListsAreRefusedAsBefore) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  const Addresses listed = random_set(rng, 20000, 0xfcffffffffffULL);
  TempDir dir;
  const std::string path = dir.file("engine.dat");
  ASSERT_TRUE(adrvet_test::write_list_text(path, text_of(listed)));
  const adrvet_test::Bytes whole = adrvet_test::read_file(path);
  struct Case {
    const char* name;
    adrvet_test::Bytes bytes;
    const char* key;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"cut at a block", {whole.begin(), whole.end() - 16 * 18}, "S", "looks truncated"},
      {"under the other key", whole, "U", "ADRVET would answer -3"},
      {"cut inside a line", {whole.begin(), whole.end() - 21}, "S", "ADRVET would answer -4"},
  };
  for (const Case& c : cases) {
    adrvet_test::write_file(path, c.bytes);
    const adrvet_test::ProcessResult result =
        adrvet_test::run_list_tool({"add", "-k", c.key, path, "02:00:00:00:00:09"});
    EXPECT_EQ(result.exit_status, 1) << c.name;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.name << ": " << result.err;
    EXPECT_EQ(adrvet_test::read_file(path), c.bytes) << c.name;
    EXPECT_TRUE(adrvet_test::temporary_files(dir.path()).empty()) << c.name;
  }
}

// Bare, or with the inventory pack gives it: neither grows an update's
// memory with the list.
TEST(StreamedUpdate, ALargeListIsUpdatedInLessMemoryThanItsText) {
  if (ADRVET_SANITIZED || adrvet_test::wrapped_run()) {
    GTEST_SKIP() << "an address space limit means nothing under the sanitizers or valgrind";
  }
  std::mt19937_64 rng(adrvet_test::test_seed());
  for (const bool packed : {false, true}) {
    TempDir dir;
    const std::string path = dir.file("engine.dat");
    Addresses listed = random_set(rng, 1500000, 0xfcffffffffffULL);  // 27 MB of text
    if (packed) {
      adrvet_test::write_file(dir.file("plain"), text_of(listed));
      const adrvet_test::ProcessResult made =
          adrvet_test::run_list_tool({"pack", "-k", "S", dir.file("plain"), path});
      ASSERT_EQ(made.exit_status, 0) << made.err;
      ASSERT_TRUE(adrvet_test::file_exists(path + ".inventory"));
    } else {
      ASSERT_TRUE(adrvet_test::write_list_text(path, text_of(listed)));
    }
    adrvet_test::ProcessOptions options;
    options.address_space_limit = std::uint64_t{16} << 20U;
    const std::string added = "02:00:00:00:00:0a";
    const std::uint64_t gone = listed[7];
    const adrvet_test::ProcessResult result = adrvet_test::run_process(
        ADRVET_LIST_BINARY, {"add", "-k", "S", "--quiet", "--label", "x", path, added}, options);
    ASSERT_EQ(result.exit_status, 0) << result.err << (packed ? " packed" : " bare");
    const adrvet_test::ProcessResult removed = adrvet_test::run_process(
        ADRVET_LIST_BINARY, {"remove", "-k", "S", path, adrvet_test::colon_address(gone)}, options);
    ASSERT_EQ(removed.exit_status, 0) << removed.err << (packed ? " packed" : " bare");
    listed = adrvet_list::difference(adrvet_list::merged(listed, {0x02000000000aULL}), {gone});
    EXPECT_EQ(unpacked(path), text_of(listed)) << (packed ? " packed" : " bare");
  }
}

// ADRVET's exit status as its answer.
int adrvet_answer(const std::string& list_dir, const std::string& mac) {
  const int status = adrvet_test::run_process(ADRVET_BINARY, {"S", list_dir, mac}).exit_status;
  return status > 127 ? status - 256 : status;
}

TEST(StreamedCheck, LargeListsInEveryLayoutAnswerAsAdrvetDoes) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  // Over three pieces of the streamed decoding, so that its seams are probed.
  const Addresses listed = random_set(rng, 40000, 0xffffffffffffULL);
  const std::string canonical = text_of(listed);
  std::string upper = canonical;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  });
  std::string bare;
  for (const std::uint64_t v : listed) {
    bare += adrvet_test::hex12(v) + "\n";
  }
  std::vector<std::string> probes = {"00:00:00:00:00:00", "ff:ff:ff:ff:ff:ff", "AA-BB-CC-DD-EE-FF"};
  for (const std::size_t at : {std::size_t{0}, std::size_t{14563}, std::size_t{14564},
                               std::size_t{29127}, std::size_t{29128}, listed.size() - 1}) {
    probes.push_back(adrvet_test::colon_address(listed[at]));
    probes.push_back(adrvet_test::hex12(listed[at] + 1));
  }
  for (int i = 0; i < 10; ++i) {
    probes.push_back(adrvet_test::colon_address(listed[rng() % listed.size()]));
  }
  struct Case {
    const char* name;
    const std::string& text;
  };
  for (const Case& c :
       {Case{"canonical", canonical}, Case{"upper case", upper}, Case{"bare digits", bare}}) {
    TempDir dir;
    ASSERT_TRUE(adrvet_test::write_list_text(dir.file("engine.dat"), c.text));
    std::vector<std::string> args = {"check", "-k", "S", dir.path()};
    args.insert(args.end(), probes.begin(), probes.end());
    std::string expected;
    for (const std::string& probe : probes) {
      expected += probe + "\t" + std::to_string(adrvet_answer(dir.path(), probe)) + "\n";
    }
    const adrvet_test::ProcessResult result = adrvet_test::run_list_tool(args);
    EXPECT_EQ(result.exit_status, 0) << c.name << ": " << result.err;
    EXPECT_EQ(result.out, expected) << c.name << ", seed " << seed;
  }
}

TEST(StreamedCheck, UnusableLargeListsAreReportedAsBefore) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  const std::string text = text_of(random_set(rng, 20000, 0xffffffffffffULL));
  struct Case {
    const char* name;
    std::string payload;
    const char* key;
    const char* message;
  };
  std::string bad_digit = text;
  bad_digit[18 * 15000 + 4] = 'x';
  const std::vector<Case> cases = {
      {"wrong key", text, "U", "ADRVET would answer -3"},
      {"a bad digit past the first piece", bad_digit, "S", "ADRVET would answer -5"},
      {"a line cut short", text.substr(0, text.size() - 3), "S", "ADRVET would answer -4"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ASSERT_TRUE(adrvet_test::write_list_text(dir.file("engine.dat"), c.payload));
    const adrvet_test::ProcessResult result =
        adrvet_test::run_list_tool({"check", "-k", c.key, dir.path(), "00:00:00:00:00:01"});
    EXPECT_EQ(result.exit_status, 1) << c.name;
    EXPECT_EQ(result.out, "") << c.name;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.name << ": " << result.err;
  }
}

}  // namespace
