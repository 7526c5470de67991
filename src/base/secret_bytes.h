// Bytes that hold plaintext or key material: a byte vector whose memory is
// wiped whenever it is given back, on destruction and on every
// reallocation, so no exit path and no growth leaves a copy behind.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "base/wipe.h"

namespace orbitforge::util {

template <typename T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>& /*other*/) noexcept {
  }  // NOLINT(google-explicit-constructor)
  T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T))); }
  void deallocate(T* data, std::size_t count) noexcept {
    wipe(data, count * sizeof(T));
    ::operator delete(data);
  }
  template <typename U>
  bool operator==(const WipingAllocator<U>& /*other*/) const noexcept {
    return true;
  }
};

using SecretBytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;

}  // namespace orbitforge::util
