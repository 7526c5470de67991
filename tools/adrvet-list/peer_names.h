// Table and set names that nft and ipset accept as written.
#pragma once

#include <string_view>

namespace adrvet_list {

// The suffix of the temporary set the ipset export fills before swapping it in.
inline constexpr std::string_view kIpsetTemporarySuffix = "-new";

// Why nft would refuse `name` as a table or set name, or nullptr. nft 1.0.6
// takes no quoted names there, so keywords cannot be written at all.
const char* nft_name_problem(std::string_view name);

// Why ipset would refuse `name` (with the temporary suffix) as a set name,
// or nullptr.
const char* ipset_name_problem(std::string_view name);

}  // namespace adrvet_list
