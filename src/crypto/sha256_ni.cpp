// SHA-256 compression with the x86 SHA extensions. Only the function that
// uses the instructions carries the target attribute, and it is reached only
// after the CPUID check in cpu_features(), so the file needs no special flags.
#include "base/detail/cpu_features.h"
#include "crypto/detail/sha256_impl.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

// Four rounds per group, sixteen groups. The message schedule lives in four
// registers, each holding the four words of one group.
__attribute__((target("sha,ssse3,sse4.1"))) void ni_compress(uint32_t* hash_words,
                                                             const uint8_t* blocks,
                                                             std::size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  // The instructions want the state as ABEF and CDGH.
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(hash_words)),
                                  0xB1);  // CDAB
  __m128i state1 = _mm_shuffle_epi32(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(hash_words + 4)), 0x1B);  // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);                              // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);                                   // CDGH

  for (std::size_t block = 0; block < count; ++block) {
    const uint8_t* data = blocks + 64 * block;
    const __m128i abef_before = state0;
    const __m128i cdgh_before = state1;
    __m128i msgs[4];
#pragma GCC unroll 16
    for (std::size_t group = 0; group < 16; ++group) {
      if (group < 4) {
        msgs[group] = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * group)), byte_swap);
      }
      __m128i msg =
          _mm_add_epi32(msgs[group % 4], _mm_load_si128(reinterpret_cast<const __m128i*>(
                                             orbitforge::util::detail::sha256_k + 4 * group)));
      state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
      if (group >= 3 && group < 15) {  // schedule words of the next group
        __m128i& next = msgs[(group + 1) % 4];
        next = _mm_add_epi32(next, _mm_alignr_epi8(msgs[group % 4], msgs[(group + 3) % 4], 4));
        next = _mm_sha256msg2_epu32(next, msgs[group % 4]);
      }
      msg = _mm_shuffle_epi32(msg, 0x0E);
      state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
      if (group >= 1 && group <= 12) {  // first half of the schedule, three groups ahead
        __m128i& ahead = msgs[(group + 3) % 4];
        ahead = _mm_sha256msg1_epu32(ahead, msgs[group % 4]);
      }
    }
    state0 = _mm_add_epi32(state0, abef_before);
    state1 = _mm_add_epi32(state1, cdgh_before);
  }

  tmp = _mm_shuffle_epi32(state0, 0x1B);        // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);     // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);     // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(hash_words), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(hash_words + 4), state1);
}

}  // namespace

namespace orbitforge::util::detail {

const Sha256Backend* sha256_ni_backend() {
  static constexpr Sha256Backend backend = {"sha-ni", ni_compress};
  return cpu_features().sha_ni ? &backend : nullptr;
}

}  // namespace orbitforge::util::detail

#else  // not x86: the portable code is all there is

namespace orbitforge::util::detail {

const Sha256Backend* sha256_ni_backend() { return nullptr; }

}  // namespace orbitforge::util::detail

#endif
