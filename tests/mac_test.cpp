// Hex digits, MAC text decoding and the list search.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "mac/hex2int.h"
#include "mac/mac_text.h"
#include "mac/macfunc.h"
#include "support/test_support.h"

namespace {

using adrvet_test::to_bytes;
using orbitforge::mac::decode_list;
using orbitforge::mac::ListStatus;
using orbitforge::mac::search_address_in_list;
using orbitforge::util::hex2int;
using orbitforge::util::text2num;

TEST(Text2num, EveryByteValue) {
  const std::string digits = "0123456789abcdef";
  for (int c = 0; c < 256; ++c) {
    const auto lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const auto at = c == 0 ? std::string::npos : digits.find(lower);
    const int expected = at == std::string::npos ? 100 : static_cast<int>(at);
    EXPECT_EQ(text2num(static_cast<unsigned char>(c)), expected) << "byte " << c;
  }
}

TEST(Hex2int, PlacesTheOctetAtItsPosition) {
  const struct {
    char high, low;
    int position;
    std::uint64_t before, after;
    bool ok;
  } cases[] = {
      {'f', 'f', 5, 0, 0xFF0000000000ULL, true},
      {'A', 'b', 0, 0x100, 0x1AB, true},
      {'0', '1', 7, 0, 0x0100000000000000ULL, true},
      {'g', '0', 1, 42, 42, false},
      {'0', ' ', 1, 42, 42, false},
      {'1', '1', 8, 42, 42, false},  // past the top octet: refused, never shifted out
      {'1', '1', -1, 42, 42, false},
  };
  for (const auto& c : cases) {
    std::uint64_t acc = c.before;
    EXPECT_EQ(hex2int(static_cast<unsigned char>(c.high), static_cast<unsigned char>(c.low),
                      c.position, acc),
              c.ok)
        << c.high << c.low << "@" << c.position;
    EXPECT_EQ(acc, c.after) << c.high << c.low << "@" << c.position;
  }
}

TEST(MacText, SeparatorsAreExactlyTheFourBytes) {
  std::vector<unsigned char> text = to_bytes("a:b-c\nd\re f.g\th");
  text.push_back(0);
  orbitforge::mac::remove_separators(text);
  std::vector<unsigned char> expected = to_bytes("abcde f.g\th");
  expected.push_back(0);
  EXPECT_EQ(text, expected);
}

TEST(MacText, DecodesListsAndReportsTheFirstBadEntry) {
  const struct {
    const char* text;
    ListStatus status;
    std::vector<std::uint64_t> values;
    std::size_t bad_entry;
  } cases[] = {
      {"", ListStatus::ok, {}, 0},
      {"aabbccddeeff", ListStatus::ok, {0xAABBCCDDEEFFULL}, 0},
      {"112233445566AABBCCDDEEFF", ListStatus::ok, {0x112233445566ULL, 0xAABBCCDDEEFFULL}, 0},
      {"aabbccddeef", ListStatus::bad_length, {}, 0},
      {"112233445566aabbccddeefg", ListStatus::bad_digit, {}, 1},
      {"aabb ccddeef", ListStatus::bad_digit, {}, 0},
  };
  for (const auto& c : cases) {
    std::vector<std::uint64_t> list;
    std::size_t bad = 0;
    const auto text = to_bytes(c.text);
    EXPECT_EQ(decode_list(text, list, &bad), c.status) << c.text;
    if (c.status == ListStatus::ok) {
      EXPECT_EQ(list, c.values) << c.text;
    }
    if (c.status == ListStatus::bad_digit) {
      EXPECT_EQ(bad, c.bad_entry) << c.text;
    }
  }
}

TEST(Search, AgreesWithStdBinarySearchOnSortedLists) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint64_t> list(rng() % 40);
    for (auto& v : list) {
      v = rng() % 64;  // small range: duplicates and neighbours
    }
    std::sort(list.begin(), list.end());
    for (std::uint64_t value = 0; value < 66; ++value) {
      ASSERT_EQ(search_address_in_list(value, list),
                std::binary_search(list.begin(), list.end(), value))
          << "round " << round << " value " << value;
    }
  }
  EXPECT_TRUE(search_address_in_list(0xFFFFFFFFFFFFULL, {0, 0xFFFFFFFFFFFFULL}));
  EXPECT_FALSE(search_address_in_list(0, {}));
}

TEST(Search, NeverFindsAnAbsentValueInAnUnsortedList) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 1);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint64_t> list(rng() % 30);
    for (auto& v : list) {
      v = rng() % 50;
    }
    for (std::uint64_t value = 0; value < 52; ++value) {
      if (std::find(list.begin(), list.end(), value) == list.end()) {
        ASSERT_FALSE(search_address_in_list(value, list)) << "round " << round;
      }
    }
  }
}

}  // namespace
