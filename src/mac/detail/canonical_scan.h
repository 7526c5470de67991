// The implementations behind is_canonical_list (canonical_list.h), for
// tests and benchmarks; the library uses the widest the processor runs.
// Internal: not installed.
#pragma once

#include <cstddef>

#include "mac/canonical_list.h"

namespace orbitforge::mac::detail {

// What belongs at a position of canonical text: ':' at columns 2, 5, 8, 11,
// 14, '\n' at 17, and 0 where a hex digit belongs.
constexpr char canonical_expected_at(std::size_t position) {
  const std::size_t column = position % kCanonicalLineBytes;
  if (column == kCanonicalLineBytes - 1) {
    return '\n';
  }
  return column % 3 == 2 ? ':' : 0;
}

using CanonicalScan = bool (*)(const unsigned char* text, std::size_t size);

struct CanonicalScanner {
  const char* name;
  CanonicalScan scan;  // nullptr where the processor cannot run it
};

inline constexpr std::size_t kCanonicalScannerCount = 4;

// scalar, sse2, avx2, avx512, in this order.
void canonical_scanners(CanonicalScanner (&out)[kCanonicalScannerCount]);

// The byte-by-byte check of bytes [first, size), `first` a whole number of
// lines: the tail the vector code leaves.
bool canonical_lines_valid(const unsigned char* text, std::size_t first, std::size_t size);

// The wide scans (canonical_scan_wide.cpp); nullptr without the instructions.
CanonicalScan canonical_scan_avx2();
CanonicalScan canonical_scan_avx512();

}  // namespace orbitforge::mac::detail
