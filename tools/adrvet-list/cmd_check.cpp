// check: many lookups in one run, each answered exactly as ADRVET would.
#include <cstring>
#include <string_view>

#include "cli.h"
#include "commands.h"
#include "list_file.h"
#include "mac/mac_text.h"
#include "mac/macfunc.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list check -k S|U LIST [MAC...]\n"
    "\n"
    "Looks up each MAC, or each line of standard input when no MAC is given, with\n"
    "ADRVET's rules, and prints the address as given, a tab, and ADRVET's result:\n"
    "1 listed, 0 not listed, -6 wrong number of digits, -7 not hex digits,\n"
    "-8 longer than ADRVET accepts (63 characters). An unusable LIST is reported\n"
    "as by 'verify', with exit status 1; otherwise the exit status is 0.\n";

constexpr std::size_t kMaxMacText = 63;  // ADRVET's argument storage

int lookup(const std::string& text, const std::vector<std::uint64_t>& values) {
  if (text.size() > kMaxMacText || std::strlen(text.c_str()) != text.size()) {
    return -8;
  }
  std::uint64_t value = 0;
  switch (orbitforge::mac::decode_entered(text.c_str(), value)) {
    case orbitforge::mac::EnteredStatus::bad_format:
      return -6;
    case orbitforge::mac::EnteredStatus::bad_digit:
      return -7;
    case orbitforge::mac::EnteredStatus::ok:
      break;
  }
  // The list in file order, as ADRVET searches it, so that an unsorted list
  // gives ADRVET's answers too.
  return orbitforge::mac::contains_address(values.data(), values.size(), value) ? 1 : 0;
}

void answer(Output& out, std::string_view shown, const std::string& text,
            const std::vector<std::uint64_t>& values) {
  out.add(shown.data(), shown.size());
  out.add('\t');
  out.add(std::to_string(lookup(text, values)));
  out.add('\n');
}

}  // namespace

int run_check(int argc, char* argv[]) {
  int status = kExitOk;
  const auto options = start_command(argc, argv, {"check", kUsage, kOptKey, 1, SIZE_MAX}, status);
  if (!options) {
    return status;
  }
  LoadedList list;
  if (!load_usable_list(options->positional[0], *options->key, list)) {
    return kExitData;
  }
  list.payload = {};
  Output out;
  if (options->positional.size() > 1) {
    for (std::size_t i = 1; i < options->positional.size(); ++i) {
      answer(out, options->positional[i], options->positional[i], list.values);
    }
    return finish_output(out, kExitOk);
  }
  std::vector<unsigned char> input;
  if (!read_standard_input(input)) {
    error("check: cannot read standard input: %s", std::strerror(errno));
    return kExitData;
  }
  std::string text;
  for_each_line(input, [&](std::string_view line) {
    text.assign(line);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);  // shown without it; a separator for the lookup anyway
    }
    answer(out, line, text, list.values);
  });
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
