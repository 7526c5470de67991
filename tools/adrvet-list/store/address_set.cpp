#include "store/address_set.h"

#include <algorithm>
#include <array>
#include <bit>
#include <functional>
#include <iterator>
#include <utility>

namespace adrvet_list {
namespace {

constexpr std::size_t kBuckets = 256;
using Counts = std::array<std::size_t, kBuckets>;

std::size_t byte_of(std::uint64_t v, std::size_t b) { return (v >> (8 * b)) & 0xffU; }

// Least-significant-digit radix sort of a range small enough to stay in the
// cache, by bytes 0 .. top - 1; a byte in which all values agree is skipped.
void sort_low_bytes(std::uint64_t* data, std::size_t count, std::size_t top, Addresses& scratch) {
  if (count < 64) {
    std::sort(data, data + count);
    return;
  }
  std::array<Counts, 8> counts{};
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t b = 0; b < top; ++b) {
      ++counts[b][byte_of(data[i], b)];
    }
  }
  scratch.resize(std::max(scratch.size(), count));
  std::uint64_t* from = data;
  std::uint64_t* to = scratch.data();
  for (std::size_t b = 0; b < top; ++b) {
    Counts& next = counts[b];
    if (std::find(next.begin(), next.end(), count) != next.end()) {
      continue;
    }
    std::size_t at = 0;
    for (auto& c : next) {
      at += std::exchange(c, at);
    }
    for (std::size_t i = 0; i < count; ++i) {
      to[next[byte_of(from[i], b)]++] = from[i];
    }
    std::swap(from, to);
  }
  if (from != data) {
    std::copy(from, from + count, data);
  }
}

// Radix sort in two stages: the values are first distributed in place by
// the highest byte in which they differ (no second array of the whole
// size, whose fresh pages cost more than the sort), then each of the 256
// parts, by then a fraction of a megabyte for big lists, is sorted by the
// bytes below while it stays in the cache.
void radix_sort(std::uint64_t* values, std::size_t size) {
  std::uint64_t differ = 0;
  for (std::size_t i = 0; i < size; ++i) {
    differ |= values[i] ^ values[0];
  }
  if (differ == 0) {
    return;
  }
  const std::size_t top = static_cast<std::size_t>(std::bit_width(differ) - 1) / 8;
  Counts begin{};
  for (std::size_t i = 0; i < size; ++i) {
    ++begin[byte_of(values[i], top)];
  }
  std::size_t at = 0;
  for (auto& c : begin) {
    at += std::exchange(c, at);
  }
  Counts next = begin;
  for (std::size_t d = 0; d < kBuckets; ++d) {
    const std::size_t end = d + 1 < kBuckets ? begin[d + 1] : size;
    while (next[d] < end) {  // each swap puts one value where it belongs
      std::uint64_t v = values[next[d]];
      for (std::size_t home = byte_of(v, top); home != d; home = byte_of(v, top)) {
        std::swap(v, values[next[home]++]);
      }
      values[next[d]++] = v;
    }
  }
  Addresses scratch;
  for (std::size_t d = 0; d < kBuckets; ++d) {
    const std::size_t end = d + 1 < kBuckets ? begin[d + 1] : size;
    sort_low_bytes(values + begin[d], end - begin[d], top, scratch);
  }
}

// Sorts values[from, to) ascending and drops its duplicates; gives the new end.
std::size_t sort_unique_range(Addresses& values, std::size_t from, std::size_t to) {
  constexpr std::size_t kRadixFrom = 1U << 12U;  // below this, comparisons win
  std::uint64_t* data = values.data() + from;
  if (to - from < kRadixFrom) {
    std::sort(data, values.data() + to);
  } else {
    radix_sort(data, to - from);
  }
  return static_cast<std::size_t>(std::unique(data, values.data() + to) - values.data());
}

// Merges ascending values[0, middle) and values[middle, end) in place,
// from the back, through a copy of the second (the smaller, as pack's input
// grows) in wiped memory, unlike std::inplace_merge's buffer.
void merge_in_place(Addresses& values, std::size_t middle, std::size_t end) {
  const Addresses second(values.begin() + static_cast<std::ptrdiff_t>(middle),
                         values.begin() + static_cast<std::ptrdiff_t>(end));
  std::size_t first_left = middle;
  std::size_t second_left = second.size();
  std::size_t out = end;
  while (second_left > 0) {
    if (first_left > 0 && values[first_left - 1] > second[second_left - 1]) {
      values[--out] = values[--first_left];
    } else {
      values[--out] = second[--second_left];
    }
  }  // what is left of the first part is where it belongs
}

}  // namespace

std::size_t sort_unique(Addresses& values) {
  if (strictly_ascending(values)) {  // a list read back, or input sorted while read
    return 0;
  }
  const std::size_t before = values.size();
  values.resize(sort_unique_range(values, 0, before));
  return before - values.size();
}

std::size_t sort_unique_after(Addresses& values, std::size_t sorted) {
  const std::size_t before = values.size();
  if (sorted == 0 || sorted >= before) {
    return sort_unique(values);
  }
  const std::size_t end = sort_unique_range(values, sorted, before);
  merge_in_place(values, sorted, end);
  const auto last = std::unique(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(end));
  values.erase(last, values.end());
  return before - values.size();
}

bool strictly_ascending(const Addresses& values) {
  return std::adjacent_find(values.begin(), values.end(), std::greater_equal<>()) == values.end();
}

Addresses merged(const Addresses& a, const Addresses& b) {
  Addresses result;
  result.reserve(a.size() + b.size());
  std::merge(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(result));
  return result;
}

Addresses difference(const Addresses& a, const Addresses& b) {
  Addresses result;
  result.reserve(a.size());
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(result));
  return result;
}

}  // namespace adrvet_list
