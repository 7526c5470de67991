// What a dry run prints on standard output: the change a writer would make,
// as "+ address" (enters the list), "- address" (leaves it) and "~ address"
// (stays, with a new label or expiry) lines and a count line such as
// "would add 2, remove 0: 14 addresses"; with --json the writer's JSON
// document with "dry_run": true instead.
#pragma once

#include <string>
#include <string_view>

#include "common/json.h"

namespace adrvet_list {

// "would add 2, remove 0: 14 addresses", " (new list)" when one is made.
std::string dry_run_count_line(const ChangeSummary& summary);

// Prints the plan, `note` ending the count line, and gives the exit
// status: 0, or 1 when standard output cannot be written.
int print_dry_run(std::string_view command, ChangeSummary summary, bool json,
                  std::string_view note = {});

}  // namespace adrvet_list
