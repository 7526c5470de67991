// What the fuzz targets share: the input as text, and how a target reports
// a property it found broken (libFuzzer keeps the input that aborts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace adrvet_fuzz {

[[noreturn]] inline void fail(const char* what) {
  (void)std::fprintf(stderr, "%s\n", what);
  std::abort();
}

inline std::string text_of(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace adrvet_fuzz
