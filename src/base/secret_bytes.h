// Bytes that hold plaintext or key material: a byte vector whose memory is
// wiped whenever it is given back, on destruction and on every
// reallocation, so no exit path and no growth leaves a copy behind.
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

#include "base/large_memory.h"
#include "base/wipe.h"

namespace orbitforge::util {

template <typename T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>& /*other*/) noexcept {
  }  // NOLINT(google-explicit-constructor)
  T* allocate(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
      throw std::bad_array_new_length();
    }
    const std::size_t bytes = count * sizeof(T);
    return static_cast<T*>(bytes >= kLargeMemoryBytes ? allocate_large(bytes)
                                                      : ::operator new(bytes));
  }
  void deallocate(T* data, std::size_t count) noexcept {
    const std::size_t bytes = count * sizeof(T);
    if (bytes >= kLargeMemoryBytes) {
      release_large(data, bytes);  // wipes what was written
    } else {
      wipe(data, bytes);
      ::operator delete(data);
    }
  }
  template <typename U>
  bool operator==(const WipingAllocator<U>& /*other*/) const noexcept {
    return true;
  }
};

using SecretBytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;

}  // namespace orbitforge::util
