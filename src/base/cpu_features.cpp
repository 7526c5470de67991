#include "base/detail/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace orbitforge::util::detail {
namespace {

#if defined(__x86_64__) || defined(__i386__)
constexpr bool bit(unsigned reg, unsigned n) { return (reg & (1U << n)) != 0; }

// XCR0, the register state the OS saves on a context switch. Read only
// after CPUID.1:ECX bit 27 (OSXSAVE) says XGETBV exists.
unsigned long long xcr0() {
  unsigned lo = 0;
  unsigned hi = 0;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return static_cast<unsigned long long>(hi) << 32U | lo;
}
#endif

CpuFeatures detect() {
  CpuFeatures features;
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
    return features;
  }
  // CPUID.1:ECX bit 9 SSSE3, bit 19 SSE4.1, bit 25 AES-NI, bit 27 OSXSAVE, bit 28 AVX.
  const bool ssse3 = bit(ecx, 9);
  const bool sse41 = bit(ecx, 19);
  features.aes_ni = bit(ecx, 25) && ssse3 && sse41;
  const bool avx = bit(ecx, 28) && bit(ecx, 27);
  // XCR0 bits 1 and 2: xmm and ymm state; bits 5, 6, 7: opmask and the zmm state.
  const unsigned long long xcr = avx ? xcr0() : 0;
  const bool ymm_state = (xcr & 0x6U) == 0x6U;
  const bool zmm_state = ymm_state && (xcr & 0xe0U) == 0xe0U;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
    return features;
  }
  // CPUID.(EAX=7,ECX=0):EBX bit 5 AVX2, bit 16 AVX-512F, bit 29 SHA extensions,
  // bit 30 AVX-512BW, bit 31 AVX-512VL; ECX bit 9 VAES.
  features.sha_ni = bit(ebx, 29) && ssse3 && sse41;
  features.avx2 = ymm_state && bit(ebx, 5);
  features.avx512 = features.avx2 && zmm_state && bit(ebx, 16) && bit(ebx, 30) && bit(ebx, 31);
  const bool vaes = features.aes_ni && bit(ecx, 9);
  features.vaes_avx2 = vaes && features.avx2;
  features.vaes_avx512 = vaes && features.avx512;
#endif
  return features;
}

}  // namespace

const CpuFeatures& cpu_features() {
  static const CpuFeatures features = detect();
  return features;
}

}  // namespace orbitforge::util::detail
