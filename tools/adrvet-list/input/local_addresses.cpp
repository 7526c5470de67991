#include "input/local_addresses.h"

#include "common/messages.h"

namespace adrvet_list {

bool is_locally_administered(std::uint64_t value) {
  constexpr unsigned kLocalBit = 2U;
  constexpr unsigned kGroupBit = 1U;
  const auto first_octet = static_cast<unsigned>(value >> 40U);
  return (first_octet & (kLocalBit | kGroupBit)) == kLocalBit;
}

void LocalAddressNote::add(std::uint64_t value) {
  if (first_.size() < kShown) {
    first_.push_back(value);
  }
  ++count_;
}

void LocalAddressNote::close() const {
  if (count_ == 0) {
    return;
  }
  std::string shown = first_addresses(first_, kShown);
  if (count_ > first_.size()) {
    shown += " and " + std::to_string(count_ - first_.size()) + " more";
  }
  warning("%s: %zu locally administered address%s (virtual machines, randomised phones): %s",
          source_.c_str(), count_, count_ == 1 ? "" : "es", shown.c_str());
}

}  // namespace adrvet_list
