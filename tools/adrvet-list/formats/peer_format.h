// What every peer format provides: a writer of the file the peer loads, a
// reader of the files administrators have, and the rules for the names the
// file uses. Each peer's file fills one PeerFormat; format_table.h lists them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/addresses.h"
#include "formats/address_parser.h"

namespace adrvet_list {

// What the inventory gives an export for one address: its label (empty
// for none), its expiry (seconds since the epoch, 0: none) and, for
// --timeouts, the seconds it has left (0: no expiry).
struct DeviceNote {
  std::uint64_t address = 0;
  std::string label;
  std::int64_t seconds_left = 0;
  std::int64_t expires = 0;
};

// Which set an import reads from a file that holds several (--name, and
// --table and --family for nft); an empty field matches any.
struct SetChoice {
  std::string family;
  std::string table;
  std::string set;
  [[nodiscard]] bool empty() const { return family.empty() && table.empty() && set.empty(); }
};

// The notes of the addresses that have any, for the formats with a place
// for them (a comment, an element's comment and timeout).
struct ExportNotes {
  std::vector<DeviceNote> notes;  // ascending by address
  bool timeouts = false;          // the set is made with timeouts (nft, ipset)

  // The note of `address`, or nullptr.
  [[nodiscard]] const DeviceNote* find(std::uint64_t address) const;
};

struct ExportNames {
  std::string family = "inet";         // nft: ip, ip6, inet, arp, bridge or netdev
  std::string table = "adrvet";        // nft
  std::string set = "adrvet";          // nft and ipset
  const ExportNotes* notes = nullptr;  // labels and lifetimes, when the list has them
};

// The note of `address` when `names` carries notes, or nullptr.
const DeviceNote* note_of(const ExportNames& names, std::uint64_t address);

// Reads one input line after another, in order; some formats (nft sets,
// FreeRADIUS entries) span lines.
class PeerReader {
 public:
  PeerReader() = default;
  PeerReader(const PeerReader&) = delete;
  PeerReader& operator=(const PeerReader&) = delete;
  virtual ~PeerReader() = default;

  // The addresses on `line` (without its line feed), each as a ParsedLine of
  // kind address (or removal) whose content is the address's own text, a
  // flush, or a ParsedLine of kind invalid with the reason. Empty for a line
  // without addresses. An entry the peer would not admit unconditionally is
  // invalid: an import must never let in more than the peer does.
  // Valid until the next call; the texts point into `line`.
  const std::vector<ParsedLine>& read(std::string_view line) {
    parsed_.clear();
    take(line);
    return parsed_;
  }

  // After the last line: why the input ended too early (inside an nft
  // block) or names no one set (several, or none that was chosen), or
  // nullptr. Valid as long as the reader.
  [[nodiscard]] virtual const char* finish() { return nullptr; }

  // The set (ParsedLine::set) whose addresses the import takes, once
  // finish() has found no problem.
  [[nodiscard]] virtual std::uint32_t chosen_set() const { return 0; }

  // For formats whose files hold several sets: the one to read.
  void choose(const SetChoice& choice) { choice_ = choice; }

  // The longest line the format needs whole, in bytes; 0 for the input's
  // own limit, which suits files of short lines.
  [[nodiscard]] virtual std::size_t longest_line() const { return 0; }

 protected:
  virtual void take(std::string_view line) = 0;
  // `text` as an address, or as invalid with the plain parser's reason.
  void add_address(std::string_view text);
  void add_invalid(std::string_view text, const char* reason);
  // `text` as an address the peer's statement takes out again.
  void add_removal(std::string_view text);
  void add_flush(std::string_view text);
  // A line that holds no entry, of the kind `what` names ("not dhcp-host= lines").
  void add_skipped(std::string_view text, const char* what);
  void add_parsed(const ParsedLine& parsed) { parsed_.push_back(parsed); }
  // The address this line gave last, for the notes that follow it; nullptr
  // when it gave none yet.
  ParsedLine* last_address() {
    return !parsed_.empty() && parsed_.back().kind == ParsedLine::Kind::address ? &parsed_.back()
                                                                                : nullptr;
  }
  // The set the add_ functions tag their lines with.
  void tag_set(std::uint32_t set) { set_tag_ = set; }
  [[nodiscard]] const SetChoice& choice() const { return choice_; }

 private:
  std::vector<ParsedLine> parsed_;
  SetChoice choice_;
  std::uint32_t set_tag_ = 0;
};

// The names a format's file gives its set: none, the set's own (ipset), or
// the set's, its table's and the table's family (nft).
enum class SetNames : std::uint8_t { none, set, set_table_family };

struct PeerFormat {
  std::string_view name;  // as --format and --from take it
  // Appends the export of `values` (in their order) to `out`. Addresses the
  // peer cannot hold are left out and appended to `left_out`.
  void (*write)(std::string& out, const Addresses& values, const ExportNames& names,
                Addresses& left_out);
  std::unique_ptr<PeerReader> (*make_reader)();
  // Why the peer would refuse `names`, as "export: ..." continues it, or
  // empty; nullptr for formats that use no names.
  std::string (*names_problem)(const ExportNames& names);
  // Export's help: what the file is, continued lines indented to column 17.
  const char* usage;
  // The names the file uses: an option or sync key for any other is
  // refused rather than ignored.
  SetNames names;
};

}  // namespace adrvet_list
