// Memory for the buffers that grow with a list (millions of addresses, the
// text of a whole list): mapped on its own and backed by huge pages where
// the system allows, so that filling it costs a page fault per 2 MiB
// rather than one per 4 KiB, and a lookup in it a TLB miss less.
#pragma once

#include <cstddef>

namespace orbitforge::util {

// Smaller buffers come from the ordinary heap.
inline constexpr std::size_t kLargeMemoryBytes = std::size_t{4} << 20U;

// At least `bytes` of zeroed memory, starting on a huge-page boundary;
// throws std::bad_alloc when there is none.
void* allocate_large(std::size_t bytes);

// Wipes what was written into what allocate_large(bytes) returned, and
// gives it back.
void release_large(void* data, std::size_t bytes) noexcept;

}  // namespace orbitforge::util
