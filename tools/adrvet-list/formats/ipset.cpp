// ipset: "ipset restore" scripts that swap a filled set in, and the add
// lines of "ipset save" output.
#include <algorithm>
#include <map>
#include <utility>

#include "formats/peers.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

// The suffix of the temporary set the export fills before swapping it in.
constexpr std::string_view kTemporarySuffix = "-new";

std::size_t power_of_two_at_least(std::size_t n) {
  std::size_t p = 1;
  while (p < n) {
    p <<= 1U;
  }
  return p;
}

bool is_command(std::string_view word, std::string_view name, std::string_view letter) {
  return word == name || word == letter;
}

// The value after `option` among the words from `first` on, or "".
std::string_view option_value(const std::vector<std::string_view>& w, std::size_t first,
                              std::string_view option) {
  for (std::size_t i = first; i + 1 < w.size(); ++i) {
    if (w[i] == option) {
      return w[i + 1];
    }
  }
  return "";
}

// The statements of a restore script, applied to one set in order: add and
// del, flush and destroy, and swap, which carries the set read so far to
// the other name (as the export's own script does).
class IpsetReader final : public PeerReader {
 protected:
  void take(std::string_view line) override {
    const std::string_view trimmed = text::trim(line);
    if (text::is_comment_or_blank(trimmed)) {
      return;
    }
    const std::vector<std::string_view> w = text::words(trimmed);
    const std::string_view command = w[0];
    if (is_command(command, "create", "-N")) {
      create(trimmed, w);
    } else if (is_command(command, "flush", "-F") || is_command(command, "destroy", "-X")) {
      if (w.size() < 2 || (!set_.empty() && w[1] == set_)) {
        add_flush(trimmed);
      }
    } else if (is_command(command, "swap", "-W") && w.size() >= 3) {
      swap(std::string(w[1]), std::string(w[2]));
    } else if (is_command(command, "del", "-D") && w.size() >= 3) {
      if (w[1] == set_) {
        add_removal(w[2]);
      }
    } else if (is_command(command, "add", "-A") && w.size() >= 3) {
      add(trimmed, w);
    } else {
      add_invalid(trimmed, "not an ipset create, add, del, flush, swap or destroy line");
    }
  }

 private:
  void create(std::string_view line, const std::vector<std::string_view>& w) {
    if (w.size() < 3 || w[2] != "hash:mac") {
      add_invalid(line, "not a hash:mac set, which holds no addresses to import");
      return;
    }
    const std::string_view timeout = option_value(w, 3, "timeout");
    if (!timeout.empty() && timeout != "0") {
      timed_sets_[std::string(w[1])] = true;
    }
  }

  void add(std::string_view line, const std::vector<std::string_view>& w) {
    if (set_.empty()) {
      set_ = std::string(w[1]);
    } else if (w[1] != set_) {
      add_invalid(line, "an address of a second set; import one set at a time (ipset save SET)");
      return;
    }
    const std::string_view timeout = option_value(w, 3, "timeout");
    const bool timed = timeout.empty() ? timed_sets_[set_] : timeout != "0";
    if (timed) {
      add_invalid(line, "an entry with a timeout leaves the set when it expires");
      return;
    }
    add_address(w[2]);  // other options (comment, counters) do not matter here
  }

  void swap(const std::string& first, const std::string& second) {
    std::swap(timed_sets_[first], timed_sets_[second]);
    if (set_ == first) {
      set_ = second;
    } else if (set_ == second) {
      set_ = first;
    }
  }

  std::string set_;                         // the name the set read so far has now
  std::map<std::string, bool> timed_sets_;  // sets created with a default timeout
};

}  // namespace

// Fill a temporary set, swap it with the live one, destroy it: the live set
// changes in one step, and the script runs again and again.
void write_ipset(std::string& out, const Addresses& values, const ExportNames& names,
                 Addresses& left_out) {
  constexpr std::size_t kMinHashSize = 1024;  // ipset's own default
  const std::size_t hash_size = power_of_two_at_least(std::max(values.size(), kMinHashSize));
  const std::size_t max_elements = std::max(values.size(), kIpsetMaxElements);
  const std::string& name = names.set;
  const std::string temporary = name + std::string(kTemporarySuffix);
  const std::string sizes = " hash:mac hashsize " + std::to_string(hash_size) + " maxelem " +
                            std::to_string(max_elements);
  out += "create " + name + sizes + " -exist\n";
  // -exist and flush: a temporary set an interrupted run left behind is reused.
  out += "create " + temporary + sizes + " -exist\n";
  out += "flush " + temporary + "\n";
  const std::string prefix = "add " + temporary + " ";
  out.reserve(out.size() + values.size() * (prefix.size() + text::kAddressSize + 1));
  for (const std::uint64_t value : values) {
    if (value == 0) {  // hash:mac refuses it as a null-valued element
      left_out.push_back(value);
      continue;
    }
    out += prefix;
    text::append_address(out, value, ':');
    out += '\n';
  }
  out += "swap " + temporary + " " + name + "\n";
  out += "destroy " + temporary + "\n";
}

std::unique_ptr<PeerReader> ipset_reader() { return std::make_unique<IpsetReader>(); }

const char* ipset_name_problem(std::string_view name) {
  constexpr std::size_t kMaxName = 31;  // IPSET_MAXNAMELEN less its terminating zero
  return text::identifier_problem(name, kMaxName - kTemporarySuffix.size());
}

std::string ipset_names_problem(const ExportNames& names) {
  if (const char* problem = ipset_name_problem(names.set)) {
    return "'" + names.set + "' cannot be an ipset set name: " + problem;
  }
  return "";
}

}  // namespace adrvet_list::peers
