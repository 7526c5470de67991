// export: one protected list as the input of the systems that enforce MAC lists.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <utility>

#include "cli/command.h"
#include "cli/dry_run.h"
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/messages.h"
#include "formats/format_table.h"
#include "fs/file_update.h"
#include "input/file_addresses.h"
#include "store/address_set.h"
#include "store/export_notes.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

// The formats' lines come from the format table, so a new peer is listed.
const std::string& usage() {
  static const std::string text = [] {
    std::string t =
        "Usage: adrvet-list export -k S|U [--format F] [--name SET] [--table TABLE]\n"
        "                          [--family FAMILY] [--timeouts] [--quiet]\n"
        "                          [--output FILE [--mode MODE] [--dry-run]] LIST\n"
        "\n"
        "Writes the addresses of LIST, in file order, as a file its peer loads as it\n"
        "stands and that replaces the peer's previous content when loaded again:\n";
    for (const PeerFormat& format : peer_formats()) {
      char name[24];
      (void)std::snprintf(name, sizeof name, "  %-14s ", std::string(format.name).c_str());
      t += name;
      t += format.usage;
      t += '\n';
    }
    t += "SET (ipset, nft) and TABLE (nft) default to adrvet: letters, digits, '_', '-',\n"
         "'.', starting with a letter or '_', at most 255 (27 for ipset); nft keywords\n"
         "are refused. FAMILY is inet (the default), ip, ip6, arp, bridge or netdev.\n"
         "An empty list's export empties the peer's list; export says so.\n"
         "Labels go where the peer has a place: an nft or ipset element's comment (the\n"
         "ipset set is then created with comments), a '# LABEL' line before the address\n"
         "in hostapd, dnsmasq, dnsmasq-hosts and freeradius files; quotes, backslashes\n"
         "and control characters become '_', and over-long labels are cut.\n"
         "--timeouts (nft, ipset) creates the set with timeouts and gives each element\n"
         "that expires the seconds it has left, so the peer drops it on time; expired\n"
         "addresses are left out. ipset's timeouts end at 2147483 s: a longer lifetime\n"
         "is left to prune. A set made without these must be destroyed once first.\n"
         "--output FILE replaces FILE crash-safe (the old file stays whole on any\n"
         "failure and keeps its permission bits) instead of writing standard output; a\n"
         "new FILE gets MODE, or what the umask leaves of 666, as a redirection would;\n"
         "--output - is standard output. --dry-run compares the export with FILE as\n"
         "the format reads it, prints the change ('+ address', '- address' lines and\n"
         "a count line) and writes nothing. --name, --table and --family are refused\n"
         "with a format that does not use them. --quiet: no warnings.\n";
    return t;
  }();
  return text;
}

// Checks the names the format uses; false after a message.
bool check_names(const PeerFormat& format, const ExportNames& names) {
  if (format.names_problem == nullptr) {
    return true;
  }
  const std::string problem = format.names_problem(names);
  if (!problem.empty()) {
    error("export: %s", problem.c_str());
  }
  return problem.empty();
}

// The format --format names, or nullptr after a message.
const PeerFormat* chosen_format(const Options& options) {
  const std::string name = options.format.value_or("plain");
  const PeerFormat* format = find_peer_format(name);
  if (format == nullptr) {
    error("export: unknown format '%s'%s; see 'adrvet-list export --help'", name.c_str(),
          format_suggestion(name).c_str());
  }
  return format;
}

// An option that would be ignored is refused instead: a --name the format
// has no use for would leave the set an administrator expects unnamed.
bool options_apply(const Options& options, const PeerFormat& format) {
  if (!set_names_apply(options, format, "export")) {
    return false;
  }
  if (options.timeouts && format.names == SetNames::none) {
    error("export: --timeouts: only nft and ipset sets hold timeouts, not '%s'",
          std::string(format.name).c_str());
    return false;
  }
  const bool to_file = options.output && *options.output != "-";
  if (options.mode && !to_file) {
    error("export: --mode applies only with --output FILE");
    return false;
  }
  if (options.dry_run && !to_file) {
    error("export: --dry-run applies only with --output FILE (standard output is written anyway)");
    return false;
  }
  return true;
}

bool file_exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// The change an export to FILE would make to the addresses FILE holds now,
// as the format reads them.
int print_export_plan(const std::string& output, const PeerFormat& format, Addresses exported) {
  sort_unique(exported);
  ChangeSummary summary;
  summary.list = output;
  summary.count = exported.size();
  std::string note;
  Addresses before;
  if (!file_exists(output)) {
    note = " (new file)";
  } else if (auto held = file_addresses(output, format)) {
    before = std::move(*held);
  } else {
    error("%s: does not read as a %s file; it would be replaced whole", output.c_str(),
          std::string(format.name).c_str());
  }
  summary.added = difference(exported, before);
  summary.removed = difference(before, exported);
  return print_dry_run("export", std::move(summary), false, note);
}

void warn_left_out(const Addresses& left_out) {
  for (const std::uint64_t value : left_out) {
    warning("export: %s left out: ipset's hash:mac cannot hold the all-zero address",
            colon_text(value).c_str());
  }
}

int write_export(const std::string& text, const Options& options) {
  if (const auto& output = options.output; output && *output != "-") {
    // A new file is a configuration file for a daemon that runs as its own
    // user: the umask decides, as for a shell's redirection, unless --mode.
    orbitforge::util::WriteOptions write;
    write.new_file_mode = options.mode.value_or(0666);
    write.apply_umask = !options.mode;
    const orbitforge::util::FileResult written = orbitforge::util::write_file(
        output->c_str(), reinterpret_cast<const unsigned char*>(text.data()), text.size(), write);
    if (!written.ok()) {
      error("export: %s: cannot write: %s; the old file, if any, is unchanged", output->c_str(),
            orbitforge::util::describe(written).c_str());
      return kExitData;
    }
    return kExitOk;
  }
  Output out;
  out.add(text);
  return finish_output(out, kExitOk);
}

}  // namespace

const char* export_usage() { return usage().c_str(); }

int run_export(const Options& options) {
  const PeerFormat* format = chosen_format(options);
  if (format == nullptr || !options_apply(options, *format)) {
    return kExitUsage;
  }
  ExportNames names;
  names.set = options.name.value_or(names.set);
  names.table = options.table.value_or(names.table);
  names.family = options.family.value_or(names.family);
  if (!check_names(*format, names)) {
    return kExitUsage;
  }
  if (options.output && same_file(list_file_path(options.positional[0]), *options.output)) {
    error(
        "export: --output '%s' is LIST itself; it would replace the protected list with its "
        "addresses in plain text",
        options.output->c_str());
    return kExitUsage;
  }
  LoadedList list;
  if (!load_usable_list(options.positional[0], *options.key, list)) {
    return kExitData;
  }
  if (list.values.empty()) {
    // Loaded, such an export empties the peer's set: say so, as pack does.
    warning(
        "export: %s holds no address; the export empties the peer's list, which then admits "
        "no device",
        options.positional[0].c_str());
  }
  const ExportNotes notes = load_export_notes(list_file_path(options.positional[0]), *options.key,
                                              options.timeouts, list.values, "export");
  names.notes = &notes;
  Addresses left_out;
  const std::string text = export_text(*format, list.values, names, left_out);
  if (!options.quiet) {
    warn_left_out(left_out);
  }
  if (options.dry_run) {
    sort_unique(list.values);
    sort_unique(left_out);
    return print_export_plan(*options.output, *format, difference(list.values, left_out));
  }
  return write_export(text, options);
}

}  // namespace adrvet_list
