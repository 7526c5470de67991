#include "input/peer_statements.h"

#include <algorithm>

#include "store/address_set.h"

namespace adrvet_list {

std::size_t PeerStatements::compact() {
  if (!removed_.empty()) {
    return 0;
  }
  const std::size_t dropped = sort_unique_after(added_, sorted_);
  sorted_ = added_.size();
  return dropped;
}

void PeerStatements::move_into(Addresses& values) {
  if (removed_.empty()) {
    if (values.empty()) {
      values.swap(added_);  // no copy of what may be millions of addresses
    } else {
      values.insert(values.end(), added_.begin(), added_.end());
    }
    flush();
    return;
  }
  // The last removal of each address decides: an addition before it is
  // undone, one after it stands.
  std::sort(removed_.begin(), removed_.end());
  values.reserve(values.size() + added_.size());
  for (std::size_t i = 0; i < added_.size(); ++i) {
    const std::uint64_t value = added_[i];
    auto last = std::upper_bound(removed_.begin(), removed_.end(),
                                 std::make_pair(value, static_cast<std::size_t>(-1)));
    const bool undone =
        last != removed_.begin() && (last - 1)->first == value && (last - 1)->second > i;
    if (!undone) {
      values.push_back(value);
    }
  }
  flush();
}

}  // namespace adrvet_list
