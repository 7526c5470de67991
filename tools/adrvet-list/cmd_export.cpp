// export: one protected list as the input of the systems that enforce MAC lists.
#include <string_view>

#include "cli.h"
#include "commands.h"
#include "list_file.h"
#include "mac/mac_text.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list export -k S|U [--format F] [--name NAME] LIST\n"
    "\n"
    "Writes the addresses of LIST, in file order, to standard output as:\n"
    "  plain       aa:bb:cc:dd:ee:ff, one per line (the default)\n"
    "  hostapd     an accept_mac_file: one address per line\n"
    "  dnsmasq     dhcp-host=aa:bb:cc:dd:ee:ff lines, to add tags or 'ignore' to\n"
    "  ipset       a restore script: create NAME hash:mac, then add NAME lines\n"
    "  nft         a set NAME of type ether_addr with the addresses as elements\n"
    "  freeradius  aa-bb-cc-dd-ee-ff, one per line\n"
    "NAME (ipset and nft; letters, digits, '_', '-', '.', at most 31) defaults to adrvet.\n";

enum class Format { plain, hostapd, dnsmasq, ipset, nft, freeradius };

bool parse_format(const std::string& text, Format& format) {
  static const struct {
    const char* name;
    Format format;
  } kFormats[] = {{"plain", Format::plain},     {"hostapd", Format::hostapd},
                  {"dnsmasq", Format::dnsmasq}, {"ipset", Format::ipset},
                  {"nft", Format::nft},         {"freeradius", Format::freeradius}};
  for (const auto& f : kFormats) {
    if (text == f.name) {
      format = f.format;
      return true;
    }
  }
  return false;
}

// Names that ipset and nft take without quoting.
bool valid_set_name(const std::string& name) {
  constexpr std::size_t kMaxSetName = 31;
  if (name.empty() || name.size() > kMaxSetName) {
    return false;
  }
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '.';
    if (!ok) {
      return false;
    }
  }
  return (name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z') || name[0] == '_';
}

void write_entries(Output& out, const std::vector<std::uint64_t>& values, std::string_view prefix,
                   char separator, std::string_view suffix) {
  char text[orbitforge::mac::kFormattedSize];
  for (const std::uint64_t value : values) {
    orbitforge::mac::format_address(value, separator, text);
    out.add(prefix.data(), prefix.size());
    out.add(text, orbitforge::mac::kFormattedSize - 1);
    out.add(suffix.data(), suffix.size());
  }
}

void write_nft(Output& out, const std::vector<std::uint64_t>& values, const std::string& name) {
  out.add("set " + name + " {\n\ttype ether_addr\n");
  if (!values.empty()) {  // nft refuses an empty element list
    out.add("\telements = {\n");
    char text[orbitforge::mac::kFormattedSize];
    for (std::size_t i = 0; i < values.size(); ++i) {
      orbitforge::mac::format_address(values[i], ':', text);
      out.add("\t\t");
      out.add(text, orbitforge::mac::kFormattedSize - 1);
      out.add(i + 1 < values.size() ? ",\n" : "\n");
    }
    out.add("\t}\n");
  }
  out.add("}\n");
}

}  // namespace

int run_export(int argc, char* argv[]) {
  int status = kExitOk;
  const auto options =
      start_command(argc, argv, {"export", kUsage, kOptKey | kOptFormat | kOptName, 1, 1}, status);
  if (!options) {
    return status;
  }
  Format format = Format::plain;
  if (options->format && !parse_format(*options->format, format)) {
    error("export: unknown format '%s'; see 'adrvet-list export --help'", options->format->c_str());
    return kExitUsage;
  }
  const std::string name = options->name.value_or("adrvet");
  if (!valid_set_name(name)) {
    error("export: '%s' is not a usable set name", name.c_str());
    return kExitUsage;
  }
  LoadedList list;
  if (!load_usable_list(options->positional[0], *options->key, list)) {
    return kExitData;
  }
  Output out;
  switch (format) {
    case Format::plain:
    case Format::hostapd:
      write_entries(out, list.values, "", ':', "\n");
      break;
    case Format::dnsmasq:
      write_entries(out, list.values, "dhcp-host=", ':', "\n");
      break;
    case Format::ipset:
      out.add("create " + name + " hash:mac\n");
      write_entries(out, list.values, "add " + name + " ", ':', "\n");
      break;
    case Format::nft:
      write_nft(out, list.values, name);
      break;
    case Format::freeradius:
      write_entries(out, list.values, "", '-', "\n");
      break;
  }
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
