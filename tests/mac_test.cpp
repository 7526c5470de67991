// Hex digits, MAC text decoding and the list search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>

#include "crypto/container.h"
#include "crypto/key_versions.h"
#include "mac/canonical_list.h"
#include "mac/detail/list_text_check.h"
#include "mac/hex2int.h"
#include "mac/list_check.h"
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
  // Any one byte inside an address: dropped if a separator, else it counts.
  for (int c = 1; c < 256; ++c) {
    const std::string text = "aabbcc" + std::string(1, static_cast<char>(c)) + "ddeeff";
    std::uint64_t value = 0;
    const bool separator = c == ':' || c == '-' || c == '\n' || c == '\r';
    EXPECT_EQ(
        orbitforge::mac::decode_entered(text.c_str(), value) == orbitforge::mac::EnteredStatus::ok,
        separator)
        << "byte " << c;
    if (separator) {
      EXPECT_EQ(value, 0xAABBCCDDEEFFULL) << "byte " << c;
    }
  }
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

namespace {

// The plain model of list decoding: drop separators, then 12 digits an entry.
ListStatus model_decode(std::vector<unsigned char> text, std::vector<std::uint64_t>& list,
                        std::size_t& bad) {
  text.erase(std::remove_if(text.begin(), text.end(), orbitforge::mac::is_separator), text.end());
  list.clear();
  if (text.size() % 12 != 0) {
    return ListStatus::bad_length;
  }
  for (std::size_t k = 0; k < text.size() / 12; ++k) {
    std::uint64_t value = 0;
    if (!orbitforge::mac::decode_address(text.data() + 12 * k, value)) {
      bad = k;
      list.clear();
      return ListStatus::bad_digit;
    }
    list.push_back(value);
  }
  return ListStatus::ok;
}

std::string canonical_text(const std::vector<std::uint64_t>& values) {
  std::string text;
  for (const std::uint64_t v : values) {
    text += adrvet_test::colon_address(v) + "\n";
  }
  return text;
}

TEST(ListDecoding, OnePassDecoderAgreesWithTheModel) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 3);
  const std::string alphabet = "0123456789abcdefABCDEF:-\r\n g.";
  for (int round = 0; round < 3000; ++round) {
    std::vector<unsigned char> text(rng() % 80);
    for (auto& c : text) {
      // Mostly hex digits, so that many texts decode or nearly do.
      c = static_cast<unsigned char>(alphabet[rng() % (rng() % 4 == 0 ? alphabet.size() : 16)]);
    }
    std::vector<std::uint64_t> got;
    std::vector<std::uint64_t> want;
    std::size_t got_bad = 99;
    std::size_t want_bad = 99;
    const auto want_status = model_decode(text, want, want_bad);
    ASSERT_EQ(decode_list(text, got, &got_bad), want_status) << "round " << round;
    if (want_status == ListStatus::ok) {
      ASSERT_EQ(got, want) << "round " << round;
    }
    if (want_status == ListStatus::bad_digit) {
      ASSERT_EQ(got_bad, want_bad) << "round " << round;
    }
  }
}

TEST(CanonicalList, RecognisesExactlyTheCanonicalLayout) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 5);
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint64_t> values(rng() % 20);  // crosses the 144-byte chunks
    for (auto& v : values) {
      v = rng() & 0xFFFFFFFFFFFFULL;
    }
    std::string text = canonical_text(values);
    if (round % 2 == 1 && !text.empty()) {
      const std::size_t at = rng() % text.size();
      text[at] = "0aF:-\n\rgG. "[rng() % 11];
    }
    if (round % 3 == 1 && rng() % 2 == 0) {
      text = text.substr(0, text.size() - 1);
    }
    // Canonical means: whole lines of hex pairs with ':' between and '\n' after.
    bool canonical = text.size() % 18 == 0;
    for (std::size_t i = 0; canonical && i < text.size(); ++i) {
      const std::size_t col = i % 18;
      const auto c = static_cast<unsigned char>(text[i]);
      canonical = col == 17 ? c == '\n' : col % 3 == 2 ? c == ':' : std::isxdigit(c) != 0;
    }
    const auto bytes = to_bytes(text);
    ASSERT_EQ(orbitforge::mac::is_canonical_list(bytes.data(), bytes.size()), canonical)
        << "round " << round << ": " << text;
  }
}

TEST(CanonicalList, SearchInPlaceAgreesWithTheDecodedSearch) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 9);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint64_t> values(rng() % 50);
    for (auto& v : values) {
      v = rng() % 80;
    }
    if (round % 4 != 0) {
      std::sort(values.begin(), values.end());  // and now and then unsorted, as files may be
    }
    const auto bytes = to_bytes(canonical_text(values));
    ASSERT_TRUE(orbitforge::mac::is_canonical_list(bytes.data(), bytes.size()));
    for (std::uint64_t probe = 0; probe < 82; ++probe) {
      const std::string entered = adrvet_test::hex12(probe);
      const int code = orbitforge::mac::code_value(orbitforge::mac::check_list_text(
          bytes.size(),
          [&](std::uint64_t offset, unsigned char* out, std::size_t n) {
            std::copy_n(bytes.begin() + static_cast<long>(offset), n, out);
            return true;
          },
          entered.c_str(), 18 * (1 + rng() % 3)));
      ASSERT_EQ(code, search_address_in_list(probe, values) ? 1 : 0)
          << "round " << round << " probe " << probe;
    }
  }
}

// A read that fails on its k-th call, while the list is validated or in the
// middle of the search, gives -2, never an answer.
TEST(ListCheck, AReadFailingAtAnyCallGivesCannotLoad) {
  std::vector<std::uint64_t> values;
  for (std::uint64_t v = 0; v < 200; ++v) {
    values.push_back(v * 3);
  }
  const auto canonical = to_bytes(canonical_text(values));
  std::string dashed = canonical_text(values);
  std::replace(dashed.begin(), dashed.end(), ':', '-');  // not canonical: read whole
  const auto other = to_bytes(dashed);
  struct Layout {
    const char* name;
    const adrvet_test::Bytes& text;
  };
  for (const Layout& layout : {Layout{"canonical", canonical}, Layout{"decoded", other}}) {
    for (const char* entered : {"00:00:00:00:01:2c", "00:00:00:00:01:2d"}) {
      int calls = 0;
      const auto counting = [&](std::uint64_t offset, unsigned char* out, std::size_t n) {
        ++calls;
        std::copy_n(layout.text.begin() + static_cast<long>(offset), n, out);
        return true;
      };
      const auto whole =
          orbitforge::mac::check_list_text(layout.text.size(), counting, entered, 18 * 16);
      ASSERT_TRUE(whole == orbitforge::mac::ResultCode::listed ||
                  whole == orbitforge::mac::ResultCode::not_listed);
      const int total = calls;
      ASSERT_GT(total, 0);
      for (int fail_at = 1; fail_at <= total; ++fail_at) {
        int call = 0;
        const auto failing = [&](std::uint64_t offset, unsigned char* out, std::size_t n) {
          if (++call == fail_at) {
            return false;
          }
          std::copy_n(layout.text.begin() + static_cast<long>(offset), n, out);
          return true;
        };
        EXPECT_EQ(orbitforge::mac::check_list_text(layout.text.size(), failing, entered, 18 * 16),
                  orbitforge::mac::ResultCode::cannot_load)
            << layout.name << " " << entered << ": read " << fail_at << " of " << total;
      }
    }
  }
}

// ADRVET's own check on a list of many pieces, read from a container file:
// each piece decrypts at its own offset.
TEST(ListCheck, ABigContainerCheckedInPieces) {
  adrvet_test::TempDir dir;
  std::vector<std::uint64_t> values;
  for (std::uint64_t v = 0; v < (std::uint64_t{5} << 20U) / 18; ++v) {
    values.push_back(v * 11 + 1);
  }
  const std::string text = canonical_text(values);
  const std::string path = dir.file("engine.dat");
  const auto key = orbitforge::util::key_for_version(1);
  ASSERT_TRUE(orbitforge::util::write_container(
      path.c_str(), reinterpret_cast<const unsigned char*>(text.data()), text.size(), key));
  const struct {
    std::uint64_t value;
    orbitforge::mac::ResultCode expected;
  } probes[] = {
      {values.front(), orbitforge::mac::ResultCode::listed},
      {values[values.size() / 2], orbitforge::mac::ResultCode::listed},
      {values[values.size() / 2 + 1], orbitforge::mac::ResultCode::listed},
      {values.back(), orbitforge::mac::ResultCode::listed},
      {values.back() + 1, orbitforge::mac::ResultCode::not_listed},
      {0, orbitforge::mac::ResultCode::not_listed},
  };
  for (const auto& probe : probes) {
    orbitforge::util::ContainerReader reader;
    ASSERT_EQ(reader.open(path.c_str(), key), orbitforge::util::ContainerStatus::ok);
    EXPECT_EQ(orbitforge::mac::check_list(reader, adrvet_test::hex12(probe.value).c_str()),
              probe.expected)
        << probe.value;
  }
}

}  // namespace
