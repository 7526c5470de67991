// Locally administered addresses (every QEMU/KVM 52:54:00 address, every
// phone that randomises its address) are common and mostly meant: they are
// told as one warning per input, with the count and the first few, rather
// than a line each that would bury the warnings that matter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "common/addresses.h"

namespace adrvet_list {

// Locally administered and not multicast: what the summary counts.
bool is_locally_administered(std::uint64_t value);

class LocalAddressNote {
 public:
  // `source` starts the warning: an input's name, or the command's.
  explicit LocalAddressNote(std::string source) : source_(std::move(source)) {}
  void add(std::uint64_t value);
  // "warning: SOURCE: 3 locally administered addresses (...): a, b and 1 more".
  void close() const;

 private:
  static constexpr std::size_t kShown = 3;
  std::string source_;
  Addresses first_;
  std::size_t count_ = 0;
};

}  // namespace adrvet_list
