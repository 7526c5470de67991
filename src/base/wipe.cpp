#include "base/wipe.h"

#include <cstring>

namespace orbitforge::util {

// explicit_bzero is glibc's zeroing that dead-store elimination may not remove,
// unlike a memset just before a buffer is released.
void wipe(void* data, std::size_t size) noexcept {
  if (data != nullptr && size != 0) {
    ::explicit_bzero(data, size);
  }
}

}  // namespace orbitforge::util
