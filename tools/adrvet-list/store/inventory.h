// The inventory of a list: per address, when it expires, when and by whom
// it was added, and its label. It lives in a protected container of its
// own beside the list (the list itself stays what ADRVET reads), under the
// same key; the list decides which addresses are listed, so an entry for an
// address the list lacks is ignored and dropped on the next write.
//
// Payload: the line "adrvet-inventory 1", then the origins, then the
// entries in ascending order of address, fields separated by one space:
//   o INDEX SECONDS USER          who added entries, and when
//   AABBCCDDEEFF ORIGIN EXPIRES LABEL
// "-" stands for a value that is absent; texts are written with every byte
// below 0x21, DEL and '%' as %XX (and a text "-" as %2d), hex digits in lower case.
//
// A list that pack made records its addresses' common origin once, so that
// an inventory costs nothing per address until an address has something of
// its own. Such a payload starts "adrvet-inventory 2" and the line after it
//   d SECONDS USER                the origin of every listed address
//                                 without an entry line
// (an entry line "AABBCCDDEEFF - - -" says that an address has no data).
// Payloads without it are written as version 1, which older readers take.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/secret_bytes.h"
#include "common/addresses.h"

namespace adrvet_list {

class Inventory {
 public:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  static constexpr std::int64_t kNever = -1;  // no expiry, or no time known

  struct Entry {
    std::uint64_t address = 0;
    std::int64_t expires = kNever;
    std::uint32_t origin = kNone;
    std::uint32_t label = kNone;
  };

  struct Origin {
    std::int64_t time = kNever;
    std::uint64_t user_at = 0;  // the user's text in the arena
    std::uint64_t user_size = 0;
  };

  // Reads a payload; nullopt with `problem` set ("line N: ...") when it is
  // not one that adrvet-list writes.
  [[nodiscard]] static std::optional<Inventory> parse(const orbitforge::util::SecretBytes& payload,
                                                      std::string& problem);
  // The payload, with room to become its container in place.
  [[nodiscard]] orbitforge::util::SecretBytes serialize() const;

  [[nodiscard]] std::uint32_t add_origin(std::int64_t time, std::string_view user);
  [[nodiscard]] std::uint32_t add_label(std::string_view label);

  [[nodiscard]] std::string_view label_of(const Entry& entry) const;
  [[nodiscard]] const Origin* origin_of(const Entry& entry) const;
  [[nodiscard]] std::string_view user_of(const Origin& origin) const;

  // The entry line of `address`, or nullptr.
  [[nodiscard]] const Entry* find(std::uint64_t address) const;
  // What the inventory says about a listed `address`: its entry line, or
  // the list's common origin, or nothing.
  [[nodiscard]] std::optional<Entry> entry_of(std::uint64_t address) const;

  // Every listed address without an entry line was added at `origin`
  // (from add_origin); only valid where that is true of every one.
  void set_common_origin(std::uint32_t origin) { common_origin_ = origin; }
  [[nodiscard]] bool has_common_origin() const { return common_origin_ != kNone; }
  // Of an inventory with an entry line for every listed address (as
  // earlier versions wrote them), makes the origin most lines with nothing
  // else in them share the common origin and drops those lines; false when
  // there is none to take.
  bool fold_common_origin();
  // How many of `listed` addresses the inventory has data for, once
  // keep_only(listed) is done.
  [[nodiscard]] std::size_t known_count(std::size_t listed) const;

  // Drops the entries of addresses that `listed` (ascending) lacks; returns
  // how many were dropped.
  std::size_t keep_only(const Addresses& listed);

  // Addresses say who may connect, as the list does: wiped when given back.
  using Entries = std::vector<Entry, orbitforge::util::WipingAllocator<Entry>>;

  // Entries in ascending order of address, at most one per address.
  Entries entries;

 private:
  [[nodiscard]] std::string_view text_at(std::uint64_t at, std::uint64_t size) const;
  [[nodiscard]] std::uint64_t store_text(std::string_view text);

  std::vector<Origin> origins_;
  std::uint32_t common_origin_ = kNone;
  // Labels as (offset, size) pairs in the arena.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> labels_;
  orbitforge::util::SecretBytes arena_;
};

// True when the two entries say the same (their origins and labels looked
// up in their own inventories).
[[nodiscard]] bool same_entry(const Inventory& a, const Inventory::Entry& x, const Inventory& b,
                              const Inventory::Entry& y);

}  // namespace adrvet_list
