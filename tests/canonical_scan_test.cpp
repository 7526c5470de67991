// Every implementation of the canonical-layout check (scalar, SSE2, AVX2,
// AVX-512) against a byte-by-byte model of the layout, on texts long enough
// to pass through whole vector chunks and their tails, with one byte changed
// anywhere. An implementation the processor cannot run is reported as
// skipped, with the reason.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "mac/detail/canonical_scan.h"
#include "support/test_support.h"

namespace {

using orbitforge::mac::detail::CanonicalScan;

struct Scanner {
  const char* name;
  const char* needs;
};

constexpr Scanner kScanners[] = {
    {"scalar", ""},
    {"sse2", "SSE2"},
    {"avx2", "AVX2"},
    {"avx512", "AVX-512 F, BW and VL"},
};

void PrintTo(const Scanner& scanner, std::ostream* out) { *out << scanner.name; }

CanonicalScan scanner_named(const char* name) {
  orbitforge::mac::detail::CanonicalScanner all[orbitforge::mac::detail::kCanonicalScannerCount];
  orbitforge::mac::detail::canonical_scanners(all);
  for (const auto& s : all) {
    if (std::strcmp(s.name, name) == 0) {
      return s.scan;
    }
  }
  ADD_FAILURE() << "no canonical scanner named " << name;
  return nullptr;
}

// The layout, one byte at a time: whole lines of hex pairs with ':'
// between and '\n' after.
bool model(const std::string& text) {
  if (text.size() % 18 != 0) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t col = i % 18;
    const auto c = static_cast<unsigned char>(text[i]);
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!(col == 17 ? c == '\n' : col % 3 == 2 ? c == ':' : hex)) {
      return false;
    }
  }
  return true;
}

std::string random_lines(std::mt19937_64& rng, std::size_t lines) {
  static constexpr char kDigits[] = "0123456789abcdefABCDEF";
  std::string text;
  for (std::size_t l = 0; l < lines; ++l) {
    for (std::size_t pair = 0; pair < 6; ++pair) {
      text += kDigits[rng() % 22];
      text += kDigits[rng() % 22];
      text += pair == 5 ? '\n' : ':';
    }
  }
  return text;
}

class CanonicalScanners : public ::testing::TestWithParam<Scanner> {
 protected:
  void SetUp() override {
    scan_ = scanner_named(GetParam().name);
    if (scan_ == nullptr) {
      GTEST_SKIP() << "this processor lacks " << GetParam().needs << ", so the " << GetParam().name
                   << " check cannot run";
    }
  }
  [[nodiscard]] bool scan(const std::string& text) const {
    return scan_(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  }
  CanonicalScan scan_ = nullptr;
};

TEST_P(CanonicalScanners, AcceptCanonicalTextOfEveryLength) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 21);
  for (std::size_t lines = 0; lines < 100; ++lines) {
    ASSERT_TRUE(scan(random_lines(rng, lines))) << lines << " lines";
  }
}

// The bytes that look most like what belongs: neighbours of the digit and
// letter ranges, the other separators, and bytes that fold onto digits or
// letters when bit 5 is set or cleared.
TEST_P(CanonicalScanners, AgreeWithTheModelOnEveryChangedByte) {
  static constexpr unsigned char kReplacements[] = {
      '/',  '0',  '9',         ':',         ';',  '@',  'A',  'F',         'G',
      '`',  'a',  'f',         'g',         '\n', '\r', '-',  ' ',         0x00,
      0x10, 0x19, 0x41 ^ 0x80, 0x66 ^ 0x80, 0xff, 0x1a, 0x2a, 0x0a ^ 0x20, 0x06};
  std::mt19937_64 rng(adrvet_test::test_seed() + 23);
  for (int round = 0; round < 3000; ++round) {
    std::string text = random_lines(rng, 1 + rng() % 80);
    const std::size_t at = rng() % text.size();
    text[at] = static_cast<char>(kReplacements[rng() % sizeof kReplacements]);
    if (round % 7 == 0) {
      text.resize(text.size() - 1 - rng() % 17);  // not whole lines
    }
    ASSERT_EQ(scan(text), model(text))
        << "round " << round << ", byte " << at << " of " << text.size();
  }
}

INSTANTIATE_TEST_SUITE_P(Implementations, CanonicalScanners, ::testing::ValuesIn(kScanners),
                         [](const ::testing::TestParamInfo<Scanner>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
