#include "base/large_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "base/wipe.h"

namespace orbitforge::util {
namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20U;
constexpr std::size_t kPageBytes = 4096;

std::size_t mapped_length(std::size_t bytes) {
  return (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
}

// Wipes the pages of [data, data + length) that were ever written: a vector
// reserved for the worst case may have touched a sliver of its room, and
// wiping the rest would first fault it in. Pages never touched hold nothing.
void wipe_written(unsigned char* data, std::size_t length) noexcept {
  constexpr std::size_t kWindowPages = 16384;  // 64 MiB a query
  unsigned char resident[kWindowPages];
  for (std::size_t offset = 0; offset < length; offset += kWindowPages * kPageBytes) {
    const std::size_t window = std::min(length - offset, kWindowPages * kPageBytes);
    if (::mincore(data + offset, window, resident) != 0) {
      wipe(data + offset, window);  // cannot tell: all of it
      continue;
    }
    for (std::size_t page = 0; page < window / kPageBytes; ++page) {
      if ((resident[page] & 1U) != 0) {
        wipe(data + offset + page * kPageBytes, kPageBytes);
      }
    }
  }
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
  auto* const first = static_cast<unsigned char*>(mapped);
  const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(first) % kHugePageBytes;
  const std::size_t head = misalignment == 0 ? 0 : kHugePageBytes - misalignment;
  if (head != 0) {
    (void)::munmap(first, head);
  }
  unsigned char* const data = first + head;
  if (const std::size_t tail = reserved - head - length; tail != 0) {
    (void)::munmap(data + length, tail);
  }
  // Advice only: where transparent huge pages are off, ordinary pages serve.
  (void)::madvise(data, length, MADV_HUGEPAGE);
  return data;
}

void release_large(void* data, std::size_t bytes) noexcept {
  wipe_written(static_cast<unsigned char*>(data), mapped_length(bytes));
  (void)::munmap(data, mapped_length(bytes));
}

}  // namespace orbitforge::util
