// What the processor offers beyond the portable baseline, detected once at
// run time, so that one binary runs everywhere and uses fast paths where it can.
#pragma once

namespace orbitforge::util::detail {

struct CpuFeatures {
  bool aes_ni = false;       // AES-NI with SSSE3 and SSE4.1
  bool sha_ni = false;       // SHA extensions with SSSE3 and SSE4.1
  bool avx2 = false;         // AVX2 with the ymm state enabled by the OS
  bool avx512 = false;       // AVX-512 F, BW and VL with the zmm state enabled by the OS
  bool vaes_avx2 = false;    // AES-NI, VAES and AVX2, with the ymm state enabled by the OS
  bool vaes_avx512 = false;  // the same with AVX-512 F, BW and VL and the zmm state enabled
};

const CpuFeatures& cpu_features();

}  // namespace orbitforge::util::detail
