// Every adrvet-list command, one row each, in the order help lists them.
#pragma once

#include <span>
#include <string_view>

#include "cli/command.h"

namespace adrvet_list {

std::span<const CommandRow> command_table();

// The row of `name`, or nullptr.
const CommandRow* find_command(std::string_view name);

}  // namespace adrvet_list
