#include "crypto/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace orbitforge::util::detail {
namespace {

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
  // CPUID.1:ECX bit 9 SSSE3, bit 19 SSE4.1, bit 25 AES-NI.
  const bool ssse3 = (ecx & (1U << 9)) != 0;
  const bool sse41 = (ecx & (1U << 19)) != 0;
  const bool aes = (ecx & (1U << 25)) != 0;
  features.aes_ni = aes && ssse3 && sse41;
  // CPUID.(EAX=7,ECX=0):EBX bit 29 SHA extensions.
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0) {
    features.sha_ni = (ebx & (1U << 29)) != 0 && ssse3 && sse41;
  }
#endif
  return features;
}

}  // namespace

const CpuFeatures& cpu_features() {
  static const CpuFeatures features = detect();
  return features;
}

}  // namespace orbitforge::util::detail
