// The addresses of a list as a set: sorted, merged, subtracted.
#pragma once

#include <cstddef>

#include "common/addresses.h"

namespace adrvet_list {

// Sorts ascending and drops duplicates; returns how many were dropped.
std::size_t sort_unique(Addresses& values);

// The same for values whose first `sorted` are ascending and distinct
// already: only the rest is sorted, then merged in.
std::size_t sort_unique_after(Addresses& values, std::size_t sorted);

// True when every value is greater than the one before it, as in every list
// adrvet-list writes.
bool strictly_ascending(const Addresses& values);

// The values of two ascending sets together, ascending (a value in both
// appears twice).
Addresses merged(const Addresses& a, const Addresses& b);

// The values of ascending `a` that ascending `b` lacks.
Addresses difference(const Addresses& a, const Addresses& b);

}  // namespace adrvet_list
