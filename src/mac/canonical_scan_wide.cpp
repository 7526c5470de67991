// The canonical-layout check on 256-bit (AVX2) and 512-bit (AVX-512BW)
// vectors. A chunk is the least common multiple of a line (18 bytes) and a
// vector, so every vector of a chunk has a fixed pattern of separators.
// Only the functions that use the instructions carry the target attribute,
// and they are reached only after the CPUID check in cpu_features(), so the
// file needs no special flags.
#include <array>
#include <cstdint>

#include "base/detail/cpu_features.h"
#include "mac/detail/canonical_scan.h"

namespace orbitforge::mac::detail {

#if defined(__x86_64__) || defined(__i386__)
}  // namespace orbitforge::mac::detail

#include <immintrin.h>

#define ADRVET_TARGET_AVX2 __attribute__((target("avx2")))
#define ADRVET_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl")))

namespace orbitforge::mac::detail {
namespace {

// For each vector of a chunk: the bytes a separator position must hold (0
// where a digit belongs) and which positions hold digits.
template <std::size_t kVectorBytes, std::size_t kVectors>
struct ChunkPatterns {
  std::array<std::array<unsigned char, kVectorBytes>, kVectors> separators{};
  std::array<std::array<unsigned char, kVectorBytes>, kVectors> digits{};
  std::array<std::uint64_t, kVectors> digit_bits{};
};

template <std::size_t kVectorBytes, std::size_t kVectors>
constexpr ChunkPatterns<kVectorBytes, kVectors> make_patterns() {
  ChunkPatterns<kVectorBytes, kVectors> p;
  for (std::size_t i = 0; i < kVectorBytes * kVectors; ++i) {
    const char expected = canonical_expected_at(i);
    p.separators[i / kVectorBytes][i % kVectorBytes] = static_cast<unsigned char>(expected);
    p.digits[i / kVectorBytes][i % kVectorBytes] = expected == 0 ? 0xff : 0;
    if (expected == 0) {
      p.digit_bits[i / kVectorBytes] |= std::uint64_t{1} << (i % kVectorBytes);
    }
  }
  return p;
}

// 288 bytes: 16 lines in nine 32-byte vectors.
constexpr std::size_t kAvx2Vectors = 9;
constexpr std::size_t kAvx2Chunk = 32 * kAvx2Vectors;
constexpr auto kAvx2Patterns = make_patterns<32, kAvx2Vectors>();

// 576 bytes: 32 lines in nine 64-byte vectors.
constexpr std::size_t kAvx512Vectors = 9;
constexpr std::size_t kAvx512Chunk = 64 * kAvx512Vectors;
constexpr auto kAvx512Patterns = make_patterns<64, kAvx512Vectors>();

// Unsigned v <= limit per byte.
ADRVET_TARGET_AVX2 inline __m256i at_most(__m256i v, char limit) {
  return _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(limit)), v);
}

// All ones in the bytes that are what the pattern wants there.
ADRVET_TARGET_AVX2 inline __m256i bytes_ok_avx2(__m256i v, std::size_t k) {
  const __m256i digit = at_most(_mm256_sub_epi8(v, _mm256_set1_epi8('0')), 9);
  const __m256i letter = at_most(
      _mm256_sub_epi8(_mm256_or_si256(v, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a')), 5);
  const __m256i want_digit =
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kAvx2Patterns.digits[k].data()));
  const __m256i separator = _mm256_cmpeq_epi8(
      v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kAvx2Patterns.separators[k].data())));
  return _mm256_blendv_epi8(separator, _mm256_or_si256(digit, letter), want_digit);
}

ADRVET_TARGET_AVX2 bool scan_avx2(const unsigned char* text, std::size_t size) {
  if (size % kCanonicalLineBytes != 0) {
    return false;
  }
  std::size_t checked = 0;
  for (; checked + kAvx2Chunk <= size; checked += kAvx2Chunk) {
    __m256i all_ok = _mm256_set1_epi8(-1);
#pragma GCC unroll 16
    for (std::size_t k = 0; k < kAvx2Vectors; ++k) {
      const __m256i v =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + checked + 32 * k));
      all_ok = _mm256_and_si256(all_ok, bytes_ok_avx2(v, k));
    }
    if (_mm256_movemask_epi8(all_ok) != -1) {
      return false;
    }
  }
  return canonical_lines_valid(text, checked, size);
}

// Set bits for the bytes that are not what the pattern wants there.
ADRVET_TARGET_AVX512 inline __mmask64 bytes_wrong_avx512(__m512i v, std::size_t k) {
  const __mmask64 digit =
      _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, _mm512_set1_epi8('0')), _mm512_set1_epi8(9));
  const __mmask64 letter = _mm512_cmple_epu8_mask(
      _mm512_sub_epi8(_mm512_or_si512(v, _mm512_set1_epi8(0x20)), _mm512_set1_epi8('a')),
      _mm512_set1_epi8(5));
  const __mmask64 separator =
      _mm512_cmpeq_epi8_mask(v, _mm512_loadu_si512(kAvx512Patterns.separators[k].data()));
  const __mmask64 want_digit = kAvx512Patterns.digit_bits[k];
  return (want_digit & ~(digit | letter)) | (~want_digit & ~separator);
}

ADRVET_TARGET_AVX512 bool scan_avx512(const unsigned char* text, std::size_t size) {
  if (size % kCanonicalLineBytes != 0) {
    return false;
  }
  std::size_t checked = 0;
  for (; checked + kAvx512Chunk <= size; checked += kAvx512Chunk) {
    __mmask64 wrong = 0;
#pragma GCC unroll 16
    for (std::size_t k = 0; k < kAvx512Vectors; ++k) {
      wrong |= bytes_wrong_avx512(_mm512_loadu_si512(text + checked + 64 * k), k);
    }
    if (wrong != 0) {
      return false;
    }
  }
  return canonical_lines_valid(text, checked, size);
}

}  // namespace

CanonicalScan canonical_scan_avx2() {
  return util::detail::cpu_features().avx2 ? scan_avx2 : nullptr;
}

CanonicalScan canonical_scan_avx512() {
  return util::detail::cpu_features().avx512 ? scan_avx512 : nullptr;
}

#else  // not x86

CanonicalScan canonical_scan_avx2() { return nullptr; }
CanonicalScan canonical_scan_avx512() { return nullptr; }

#endif

}  // namespace orbitforge::mac::detail
