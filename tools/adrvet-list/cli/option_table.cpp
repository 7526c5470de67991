#include "cli/option_table.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "crypto/key_versions.h"

namespace adrvet_list {
namespace {

bool all_digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<unsigned> parse_mode(const std::string& text) {
  constexpr unsigned long kMaxMode = 0777;
  if (text.empty() || text.size() > 4 || text.find_first_not_of("01234567") != std::string::npos) {
    return std::nullopt;
  }
  const unsigned long mode = std::strtoul(text.c_str(), nullptr, 8);
  if (mode > kMaxMode) {
    return std::nullopt;
  }
  return static_cast<unsigned>(mode);
}

bool store_key_version(std::optional<int>& to, const std::string& value) {
  to = orbitforge::util::parse_key_version(value);
  return to.has_value();
}

// Named value options: any text; what it names is checked where it is used.
template <std::optional<std::string> Options::*field>
bool store_text(Options& options, const std::string& value) {
  options.*field = value;
  return true;
}

template <bool Options::*field>
bool store_flag(Options& options, const std::string& /*value*/) {
  options.*field = true;
  return true;
}

constexpr std::string_view kListCommands =
    "pack add remove check verify export diff unpack rekey test show prune sync";

// A new option is one row here and its field in Options.
constexpr OptionRow kOptions[] = {
    {"key", 'k', "S|U", kListCommands,
     [](Options& o, const std::string& v) { return store_key_version(o.key, v); },
     "a key version, S or U", "the key version is required: -k S or -k U"},
    {"key-b", 0, "S|U", "diff",
     [](Options& o, const std::string& v) { return store_key_version(o.key_b, v); },
     "a key version, S or U", nullptr},
    {"to", 0, "S|U", "rekey",
     [](Options& o, const std::string& v) { return store_key_version(o.to, v); },
     "a key version, S or U", nullptr},
    {"format", 0, "F", "export", store_text<&Options::format>, nullptr, nullptr},
    {"name", 0, "SET", "export pack add", store_text<&Options::name>, nullptr, nullptr},
    {"quiet", 'q', nullptr, "pack add remove rekey prune export sync", store_flag<&Options::quiet>,
     nullptr, nullptr},
    {"wait", 0, "SECONDS", "pack add remove rekey prune sync",
     [](Options& o, const std::string& v) { return (o.wait = parse_wait(v)).has_value(); },
     "a number of seconds", nullptr},
    {"mode", 0, "MODE", "pack add export rekey",
     [](Options& o, const std::string& v) { return (o.mode = parse_mode(v)).has_value(); },
     "permission bits in octal, 0 to 0777", nullptr},
    {"force", 0, nullptr, "add remove rekey prune sync", store_flag<&Options::force>, nullptr,
     nullptr},
    {"allow-empty", 0, nullptr, "pack add remove", store_flag<&Options::allow_empty>, nullptr,
     nullptr},
    {"create", 0, nullptr, "add", store_flag<&Options::create>, nullptr, nullptr},
    {"table", 0, "TABLE", "export pack add", store_text<&Options::table>, nullptr, nullptr},
    {"family", 0, "FAMILY", "export pack add", store_text<&Options::family>, nullptr, nullptr},
    {"output", 0, "FILE", "export", store_text<&Options::output>, nullptr, nullptr},
    {"from", 0, "FORMAT", "pack add", store_text<&Options::from>, nullptr, nullptr},
    {"columns", 0, "COLUMNS", "pack add", store_text<&Options::columns>, nullptr, nullptr},
    {"label", 0, "TEXT", "add", store_text<&Options::label>, nullptr, nullptr},
    {"expires", 0, "WHEN", "add", store_text<&Options::expires>, nullptr, nullptr},
    {"json", 'j', nullptr, "pack add remove check verify diff digest test sync show prune",
     store_flag<&Options::json>, nullptr, nullptr},
    {"timeouts", 0, nullptr, "export", store_flag<&Options::timeouts>, nullptr, nullptr},
    {"targets", 0, "FILE", "sync", store_text<&Options::targets>, nullptr, nullptr},
    {"check", 0, nullptr, "sync", store_flag<&Options::check>, nullptr, nullptr},
    {"dry-run", 0, nullptr, "pack add remove rekey prune export sync",
     store_flag<&Options::dry_run>, nullptr, nullptr},
};

}  // namespace

std::span<const OptionRow> option_table() { return kOptions; }

bool accepts(const OptionRow& option, std::string_view command) {
  std::string_view rest = option.commands;
  while (!rest.empty()) {
    const std::size_t space = std::min(rest.find(' '), rest.size());
    if (rest.substr(0, space) == command) {
      return true;
    }
    rest.remove_prefix(std::min(space + 1, rest.size()));
  }
  return false;
}

// Parsed in integers: floating point would bring in libm for the rounding.
std::optional<std::chrono::milliseconds> parse_wait(const std::string& text) {
  constexpr std::uint64_t kMaxSeconds = 86400;
  const std::size_t dot = text.find('.');
  const std::string_view whole = std::string_view(text).substr(0, dot);
  const std::string_view fraction =
      dot == std::string::npos ? std::string_view() : std::string_view(text).substr(dot + 1);
  if ((whole.empty() && fraction.empty()) || !all_digits(whole) || !all_digits(fraction)) {
    return std::nullopt;
  }
  std::uint64_t seconds = 0;
  for (const char c : whole) {
    seconds = seconds * 10 + static_cast<std::uint64_t>(c - '0');
    if (seconds > kMaxSeconds) {
      return std::nullopt;
    }
  }
  const bool has_fraction = fraction.find_first_not_of('0') != std::string_view::npos;
  if (seconds == kMaxSeconds && has_fraction) {
    return std::nullopt;
  }
  std::uint64_t milliseconds = seconds * 1000;
  std::uint64_t thousandths = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    thousandths = thousandths * 10 +
                  (i < fraction.size() ? static_cast<std::uint64_t>(fraction[i] - '0') : 0U);
  }
  milliseconds += thousandths + (fraction.size() > 3 && fraction[3] >= '5' ? 1U : 0U);
  return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(milliseconds));
}

}  // namespace adrvet_list
