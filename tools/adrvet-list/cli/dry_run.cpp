#include "cli/dry_run.h"

#include <utility>

#include "cli/output.h"
#include "common/messages.h"

namespace adrvet_list {
namespace {

std::string counted(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

void add_lines(Output& out, char sign, const Addresses& values) {
  for (const std::uint64_t value : values) {
    out.add(sign);
    out.add(' ');
    out.add(colon_text(value));
    out.add('\n');
  }
}

}  // namespace

std::string dry_run_count_line(const ChangeSummary& summary) {
  std::string line = "would add " + std::to_string(summary.added.size());
  if (!summary.updated.empty()) {
    line += ", update " + std::to_string(summary.updated.size());
  }
  line += ", remove " + std::to_string(summary.removed.size()) + ": " +
          counted(summary.count, "address", "addresses");
  if (summary.created) {
    line += " (new list)";
  }
  return line;
}

int print_dry_run(std::string_view command, ChangeSummary summary, bool json,
                  std::string_view note) {
  summary.dry_run = true;
  if (json) {
    return print_json(change_summary_json(command, summary), kExitOk);
  }
  Output out;
  add_lines(out, '+', summary.added);
  add_lines(out, '-', summary.removed);
  add_lines(out, '~', summary.updated);
  out.add(dry_run_count_line(summary));
  out.add(note.data(), note.size());
  out.add('\n');
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
