#include "cli/command.h"

#include <getopt.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cli/option_table.h"
#include "cli/output.h"
#include "common/messages.h"
#include "common/suggest.h"
#include "formats/format_table.h"
#include "formats/peers.h"

namespace adrvet_list {
namespace {

// getopt's code for an option without a short name: past every character.
constexpr int kLongOnly = 256;

// getopt has just refused the word `word` (argv[optind - 1]): an option it
// does not know, or one that needs a value and is last. A short option's
// letter is in optopt; the word then may hold several ("-qk").
void report_bad_option(const char* command, bool missing_value, const char* word) {
  std::string name = word;
  if (name.rfind("--", 0) != 0) {
    name = std::string("-") + static_cast<char>(optopt);
  } else {
    name = name.substr(0, name.find('='));
  }
  if (missing_value) {
    error("%s: option %s needs a value", command, name.c_str());
  } else {
    std::string hint;
    if (name.rfind("--", 0) == 0) {  // single letters are too short to guess from
      std::vector<std::string_view> long_names = {"help"};
      for (const OptionRow& row : option_table()) {
        if (accepts(row, command)) {
          long_names.emplace_back(row.long_name);
        }
      }
      hint = did_you_mean(std::string_view(name).substr(2), long_names);
      if (!hint.empty()) {
        hint.insert(hint.find('\'') + 1, "--");
      }
    }
    error("%s: unknown option '%s'%s", command, name.c_str(), hint.c_str());
  }
}

int getopt_code(const OptionRow& row, std::size_t index) {
  return row.short_name != 0 ? row.short_name : kLongOnly + static_cast<int>(index);
}

// getopt_long's view of the option table, with -h and --help for every command.
struct GetoptTables {
  std::vector<option> long_options;
  std::string short_options = ":h";  // ':' first: a missing value is reported as ':'
};

GetoptTables getopt_tables(std::span<const OptionRow> rows) {
  GetoptTables tables;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const OptionRow& row = rows[i];
    const int argument = row.value != nullptr ? required_argument : no_argument;
    tables.long_options.push_back({row.long_name, argument, nullptr, getopt_code(row, i)});
    if (row.short_name != 0) {
      tables.short_options += row.short_name;
      tables.short_options += row.value != nullptr ? ":" : "";
    }
  }
  tables.long_options.push_back({"help", no_argument, nullptr, 'h'});
  tables.long_options.push_back({nullptr, 0, nullptr, 0});
  return tables;
}

// The row getopt's `code` stands for, or nullptr.
const OptionRow* row_of(std::span<const OptionRow> rows, int code) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (getopt_code(rows[i], i) == code) {
      return &rows[i];
    }
  }
  return nullptr;
}

// False, with a message, when an option a command cannot go without is missing.
bool has_required(const Options& options, std::span<const OptionRow> rows,
                  const std::vector<bool>& seen, const char* command) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!options.help && rows[i].required != nullptr && accepts(rows[i], command) && !seen[i]) {
      error("%s: %s", command, rows[i].required);
      return false;
    }
  }
  return true;
}

// Why the --table, --family and --name an nft import is given cannot be
// nft's, or "".
std::string choice_problem(const SetChoice& choice) {
  if (!choice.family.empty() && !peers::is_nft_family(choice.family)) {
    return "--family '" + choice.family + "': nft knows ip, ip6, inet, arp, bridge and netdev";
  }
  for (const std::string* name : {&choice.table, &choice.set}) {
    const char* problem = name->empty() ? nullptr : peers::nft_name_problem(*name);
    if (problem != nullptr) {
      return "'" + *name + "' cannot be an nft name: " + problem;
    }
  }
  return "";
}

bool expect_positionals(const Options& options, std::size_t min, std::size_t max,
                        const char* command) {
  const std::size_t count = options.positional.size();
  if (count < min) {
    error("%s: missing arguments; see 'adrvet-list %s --help'", command, command);
    return false;
  }
  if (count > max) {
    error("%s: unexpected argument '%s'; see 'adrvet-list %s --help'", command,
          options.positional[max].c_str(), command);
    return false;
  }
  return true;
}

}  // namespace

std::optional<Options> parse_options(int argc, char* argv[], const char* command) {
  const std::span<const OptionRow> rows = option_table();
  static const GetoptTables tables = getopt_tables(rows);
  Options options;
  std::vector<bool> seen(rows.size());
  opterr = 0;
  optind = 0;  // full re-initialisation of GNU getopt
  int code = 0;
  int long_index = -1;
  while ((code = ::getopt_long(argc, argv, tables.short_options.c_str(), tables.long_options.data(),
                               &long_index)) != -1) {
    // Messages name the option as the user typed it: "--key" or "-k".
    const std::string typed =
        long_index >= 0
            ? std::string("--") + tables.long_options[static_cast<std::size_t>(long_index)].name
            : std::string("-") + static_cast<char>(code);
    long_index = -1;
    if (code == 'h') {
      options.help = true;
      continue;
    }
    if (code == '?' || code == ':') {
      report_bad_option(command, code == ':', argv[optind - 1]);
      return std::nullopt;
    }
    const OptionRow* row = row_of(rows, code);
    if (row == nullptr || !accepts(*row, command)) {
      error("%s: option %s does not apply to this command", command, typed.c_str());
      return std::nullopt;
    }
    const auto index = static_cast<std::size_t>(row - rows.data());
    if (seen[index]) {
      error("%s: option %s given twice", command, typed.c_str());
      return std::nullopt;
    }
    seen[index] = true;
    const std::string value = optarg != nullptr ? optarg : "";
    if (!row->store(options, value)) {
      error("%s: %s takes %s, not '%s'", command, typed.c_str(), row->takes, value.c_str());
      return std::nullopt;
    }
  }
  for (int i = optind; i < argc; ++i) {
    options.positional.emplace_back(argv[i]);
  }
  if (!has_required(options, rows, seen, command)) {
    return std::nullopt;
  }
  return options;
}

std::optional<Options> start_command(int argc, char* argv[], const CommandRow& command,
                                     int& status) {
  status = kExitUsage;
  auto options = parse_options(argc, argv, command.name);
  if (!options) {
    return std::nullopt;
  }
  if (options->help) {
    status = show_help(command.usage());
    return std::nullopt;
  }
  if (!expect_positionals(*options, command.min_arguments, command.max_arguments, command.name)) {
    return std::nullopt;
  }
  status = kExitOk;
  return options;
}

std::string format_suggestion(std::string_view typed) {
  std::vector<std::string_view> names;
  for (const PeerFormat& format : peer_formats()) {
    names.push_back(format.name);
  }
  return did_you_mean(typed, names);
}

bool set_names_apply(const Options& options, const PeerFormat& format, const char* command) {
  const std::pair<const char*, bool> given[] = {
      {"name", options.name.has_value()},
      {"table", options.table.has_value()},
      {"family", options.family.has_value()},
  };
  const auto* unused = std::find_if(std::begin(given), std::end(given), [&](const auto& option) {
    return option.second && !uses_name(format, option.first);
  });
  if (unused != std::end(given)) {
    error("%s: --%s does not apply to format '%s'", command, unused->first,
          std::string(format.name).c_str());
    return false;
  }
  return true;
}

const PeerFormat* import_format(const Options& options, const char* command) {
  const PeerFormat* format = find_peer_format(options.from.value_or("plain"));
  if (format == nullptr) {
    error("%s: unknown format '%s'%s; see 'adrvet-list %s --help'", command, options.from->c_str(),
          format_suggestion(*options.from).c_str(), command);
    return nullptr;
  }
  if (!set_names_apply(options, *format, command)) {
    return nullptr;
  }
  const std::string problem =
      format->names == SetNames::set_table_family ? choice_problem(import_choice(options)) : "";
  if (!problem.empty()) {
    error("%s: %s", command, problem.c_str());
    return nullptr;
  }
  return format;
}

SetChoice import_choice(const Options& options) {
  return {options.family.value_or(""), options.table.value_or(""), options.name.value_or("")};
}

}  // namespace adrvet_list
