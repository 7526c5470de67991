// Overwrites secrets with zeros in a way the optimiser cannot drop.
#pragma once

#include <cstddef>

namespace orbitforge::util {

void wipe(void* data, std::size_t size) noexcept;

}  // namespace orbitforge::util
