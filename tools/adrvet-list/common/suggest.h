// "did you mean" for a mistyped command, option or format name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace adrvet_list {

// "; did you mean 'NAME'?" for the one name closest to `typed` (at most two
// edits away, or a third of its length for long names), else "".
std::string did_you_mean(std::string_view typed, const std::vector<std::string_view>& names);

}  // namespace adrvet_list
