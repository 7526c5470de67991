#include "mac/canonical_list.h"

#include <array>

#include "mac/detail/canonical_scan.h"
#include "mac/hex2int.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orbitforge::mac {
namespace {

constexpr char expected_at(std::size_t position) { return detail::canonical_expected_at(position); }

bool lines_valid_scalar(const unsigned char* text, std::size_t first, std::size_t size) {
  for (std::size_t i = first; i < size; ++i) {
    const char expected = expected_at(i);
    if (expected == 0 ? !util::is_hex_digit(text[i])
                      : text[i] != static_cast<unsigned char>(expected)) {
      return false;
    }
  }
  return true;
}

#if defined(__SSE2__)
// 144 bytes, the least common multiple of a line (18) and a vector (16),
// hold eight lines in nine vectors, each with a fixed pattern of separators.
constexpr std::size_t kChunkBytes = 144;
constexpr std::size_t kVectors = kChunkBytes / 16;

struct Patterns {
  std::array<std::array<unsigned char, 16>, kVectors> colon{};
  std::array<std::array<unsigned char, 16>, kVectors> newline{};
  std::array<std::array<unsigned char, 16>, kVectors> digit{};
};

constexpr Patterns kPatterns = [] {
  Patterns p;
  for (std::size_t i = 0; i < kChunkBytes; ++i) {
    const char expected = expected_at(i);
    p.colon[i / 16][i % 16] = expected == ':' ? 0xff : 0;
    p.newline[i / 16][i % 16] = expected == '\n' ? 0xff : 0;
    p.digit[i / 16][i % 16] = expected == 0 ? 0xff : 0;
  }
  return p;
}();

__m128i load_pattern(const std::array<unsigned char, 16>& pattern) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern.data()));
}

// Unsigned "v < limit + 1" per byte, with limit + 1 at most 0x80.
__m128i below_or_equal(__m128i v, char limit) {
  return _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(limit)), v);
}

bool chunk_valid(const unsigned char* chunk) {
  __m128i all_ok = _mm_set1_epi8(-1);
  for (std::size_t k = 0; k < kVectors; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 16 * k));
    const __m128i digit = below_or_equal(_mm_sub_epi8(v, _mm_set1_epi8('0')), 9);
    const __m128i letter =
        below_or_equal(_mm_sub_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('a')), 5);
    const __m128i ok = _mm_or_si128(
        _mm_and_si128(_mm_or_si128(digit, letter), load_pattern(kPatterns.digit[k])),
        _mm_or_si128(
            _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(':')), load_pattern(kPatterns.colon[k])),
            _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                          load_pattern(kPatterns.newline[k]))));
    all_ok = _mm_and_si128(all_ok, ok);
  }
  return _mm_movemask_epi8(all_ok) == 0xffff;
}
#endif

}  // namespace

std::uint64_t decode_canonical_line(const unsigned char* line) {
  std::uint64_t value = 0;
  for (std::size_t pair = 0; pair < 6; ++pair) {
    const int position = 5 - static_cast<int>(pair);
    (void)util::hex2int(line[3 * pair], line[3 * pair + 1], position,
                        value);  // valid: accepted text
  }
  return value;
}

namespace detail {
namespace {

bool scan_scalar(const unsigned char* text, std::size_t size) {
  return size % kCanonicalLineBytes == 0 && canonical_lines_valid(text, 0, size);
}

#if defined(__SSE2__)
bool scan_sse2(const unsigned char* text, std::size_t size) {
  if (size % kCanonicalLineBytes != 0) {
    return false;
  }
  std::size_t checked = 0;
  for (; checked + kChunkBytes <= size; checked += kChunkBytes) {
    if (!chunk_valid(text + checked)) {
      return false;
    }
  }
  return canonical_lines_valid(text, checked, size);
}
#endif

CanonicalScan widest() {
  if (const CanonicalScan avx512 = canonical_scan_avx512()) {
    return avx512;
  }
  if (const CanonicalScan avx2 = canonical_scan_avx2()) {
    return avx2;
  }
#if defined(__SSE2__)
  return scan_sse2;
#else
  return scan_scalar;
#endif
}

}  // namespace

bool canonical_lines_valid(const unsigned char* text, std::size_t first, std::size_t size) {
  return lines_valid_scalar(text, first, size);
}

void canonical_scanners(CanonicalScanner (&out)[kCanonicalScannerCount]) {
  out[0] = {"scalar", scan_scalar};
#if defined(__SSE2__)
  out[1] = {"sse2", scan_sse2};
#else
  out[1] = {"sse2", nullptr};
#endif
  out[2] = {"avx2", canonical_scan_avx2()};
  out[3] = {"avx512", canonical_scan_avx512()};
}

}  // namespace detail

bool is_canonical_list(const unsigned char* text, std::size_t size) {
  static const detail::CanonicalScan scan = detail::widest();
  return scan(text, size);
}

}  // namespace orbitforge::mac
