// export: one protected list as the input of the systems that enforce MAC lists.
#include <string_view>

#include "cli.h"
#include "commands.h"
#include "export_formats.h"
#include "fs/file_update.h"
#include "list_file.h"
#include "peer_names.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list export -k S|U [--format F] [--name SET] [--table TABLE]\n"
    "                          [--family FAMILY] [--output FILE [--mode MODE]] LIST\n"
    "\n"
    "Writes the addresses of LIST, in file order, as a file its peer loads as it\n"
    "stands and that replaces the peer's previous content when loaded again:\n"
    "  plain          aa:bb:cc:dd:ee:ff, one per line (the default)\n"
    "  hostapd        an accept_mac_file (or deny_mac_file): one address per line\n"
    "  dnsmasq        dhcp-host=aa:bb:cc:dd:ee:ff lines, for conf-file= (restart)\n"
    "  dnsmasq-hosts  aa:bb:cc:dd:ee:ff lines, for dhcp-hostsfile= (reread on SIGHUP)\n"
    "  ipset          an 'ipset restore' script: fills the temporary set SET-new,\n"
    "                 swaps it with SET (created when missing), destroys it; the\n"
    "                 all-zero address, which hash:mac cannot hold, is left out\n"
    "  nft            an 'nft -f' file: creates table FAMILY TABLE and its set SET\n"
    "                 of type ether_addr when missing, flushes the set and adds\n"
    "                 the addresses, in one transaction\n"
    "  freeradius     AA-BB-CC-DD-EE-FF lines for the files module, as FreeRADIUS's\n"
    "                 rewrite_calling_station_id writes addresses\n"
    "SET (ipset, nft) and TABLE (nft) default to adrvet: letters, digits, '_', '-',\n"
    "'.', starting with a letter or '_', at most 31 (27 for ipset); nft keywords are\n"
    "refused. FAMILY is inet (the default), bridge or netdev.\n"
    "--output FILE replaces FILE crash-safe (the old file stays whole on any\n"
    "failure and keeps its permission bits) instead of writing standard output; a\n"
    "new FILE gets MODE, or what the umask leaves of 666, as a redirection would.\n";

bool valid_family(const std::string& family) {
  return family == "inet" || family == "bridge" || family == "netdev";
}

bool nft_name_usable(const std::string& name) {
  const char* problem = nft_name_problem(name);
  if (problem != nullptr) {
    error("export: '%s' cannot be an nft name: %s", name.c_str(), problem);
  }
  return problem == nullptr;
}

// Checks the names the format uses; false after a message.
bool check_names(PeerFormat format, const ExportNames& names) {
  if (format == PeerFormat::ipset) {
    if (const char* problem = ipset_name_problem(names.set)) {
      error("export: '%s' cannot be an ipset set name: %s", names.set.c_str(), problem);
      return false;
    }
  }
  if (format != PeerFormat::nft) {
    return true;
  }
  if (!valid_family(names.family)) {
    error("export: family '%s': nft sets of addresses need inet, bridge or netdev",
          names.family.c_str());
    return false;
  }
  return nft_name_usable(names.table) && nft_name_usable(names.set);
}

void warn_left_out(const std::vector<std::uint64_t>& left_out) {
  for (const std::uint64_t value : left_out) {
    warning("export: %s left out: ipset's hash:mac cannot hold the all-zero address",
            colon_text(value).c_str());
  }
}

int write_export(const std::string& text, const Options& options) {
  if (const auto& output = options.output) {
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

int run_export(int argc, char* argv[]) {
  int status = kExitOk;
  const auto options = start_command(
      argc, argv,
      {"export", kUsage,
       kOptKey | kOptFormat | kOptName | kOptTable | kOptFamily | kOptOutput | kOptMode, 1, 1},
      status);
  if (!options) {
    return status;
  }
  const auto format = parse_peer_format(options->format.value_or("plain"));
  if (!format) {
    error("export: unknown format '%s'; see 'adrvet-list export --help'", options->format->c_str());
    return kExitUsage;
  }
  ExportNames names;
  names.set = options->name.value_or(names.set);
  names.table = options->table.value_or(names.table);
  names.family = options->family.value_or(names.family);
  if (!check_names(*format, names)) {
    return kExitUsage;
  }
  LoadedList list;
  if (!load_usable_list(options->positional[0], *options->key, list)) {
    return kExitData;
  }
  std::vector<std::uint64_t> left_out;
  const std::string text = export_text(*format, list.values, names, left_out);
  warn_left_out(left_out);
  return write_export(text, *options);
}

}  // namespace adrvet_list
