// The CTR counter block as the x86 backends keep it: the 128-bit big-endian
// number of the context's iv, held as two native 64-bit halves.
#pragma once

#include <cstdint>
#include <cstring>

namespace orbitforge::util::detail {

// One load and a byte swap where the compiler knows the byte order; a 64-
// byte call spent a tenth of its time in the byte loops.
inline uint64_t load_be64(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
#else
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) {
    v = v << 8U | p[i];
  }
  return v;
#endif
}

inline void store_be64(uint8_t* p, uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
#else
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<uint8_t>(v);
    v >>= 8U;
  }
#endif
}

struct Counter {
  uint64_t hi;
  uint64_t lo;

  static Counter load(const uint8_t* block) { return {load_be64(block), load_be64(block + 8)}; }
  void store(uint8_t* block) const {
    store_be64(block, hi);
    store_be64(block + 8, lo);
  }
  void advance(uint64_t blocks) {
    const uint64_t old = lo;
    lo += blocks;
    hi += lo < old ? 1 : 0;  // wraps silently at 2^128
  }
  [[nodiscard]] Counter plus(uint64_t blocks) const {
    Counter c = *this;
    c.advance(blocks);
    return c;
  }
  // True when the next `blocks` values differ from this one in the low half
  // only, so that they can be made with 64-bit additions.
  [[nodiscard]] bool low_half_holds(uint64_t blocks) const { return lo <= UINT64_MAX - blocks; }
};

}  // namespace orbitforge::util::detail
