#include "base/large_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <limits>
#include <new>

namespace orbitforge::util {
namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20U;

std::size_t mapped_length(std::size_t bytes) {
  return (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
}

}  // namespace

void* allocate_large(std::size_t bytes) {
  if (bytes == 0 || bytes > std::numeric_limits<std::size_t>::max() - 2 * kHugePageBytes) {
    throw std::bad_alloc();
  }
  const std::size_t length = mapped_length(bytes);
  // A huge page more than needed, so that the buffer can start on a huge
  // page's boundary; what lies outside it is unmapped again.
  const std::size_t reserved = length + kHugePageBytes;
  void* mapped =
      ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) {
    throw std::bad_alloc();
  }
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~std::uintptr_t{kHugePageBytes - 1};
  const std::size_t head = aligned - start;
  if (head != 0) {
    (void)::munmap(mapped, head);
  }
  if (const std::size_t tail = reserved - head - length; tail != 0) {
    (void)::munmap(reinterpret_cast<void*>(aligned + length), tail);
  }
  auto* data = reinterpret_cast<void*>(aligned);
  // Advice only: where transparent huge pages are off, ordinary pages serve.
  (void)::madvise(data, length, MADV_HUGEPAGE);
  return data;
}

void release_large(void* data, std::size_t bytes) noexcept {
  (void)::munmap(data, mapped_length(bytes));
}

}  // namespace orbitforge::util
