// add and remove without the list in memory: the old container is read and
// decrypted a piece at a time and copied into the new one as it is
// written, each new address inserted where it falls and each removed one
// left out. Memory stays a few hundred KiB whatever the list's size, and
// nothing is decoded but what the merge compares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "common/addresses.h"
#include "crypto/crypto.h"
#include "fs/file_update.h"

namespace adrvet_list {

// What a change does to the list, known once the whole old list is read.
struct StreamSummary {
  Addresses changed;    // added, or removed
  Addresses unchanged;  // already present, or not on the list
  std::size_t before = 0;
  std::size_t after = 0;
  Addresses probes_listed;  // the probes (below) that the old list holds
  // The old text was exactly what adrvet-list writes (lower case): the
  // new text differs from it only where addresses changed.
  bool tidy = true;
};

enum class StreamOutcome {
  // Not a list this handles (it does not open, looks cut short, is not in
  // the canonical layout or not strictly ascending, could not be read or
  // no temporary could be made): nothing was changed, and the caller loads
  // it whole, which reports what is wrong exactly as before.
  not_streamable,
  kept,     // `accept` declined: the file is as it was
  written,  // the new list is in place
  failed,   // writing failed (`failure` says why); the file is as it was
};

// Decides, from the summary, whether the new list replaces the old one.
using StreamAccept = std::function<bool(const StreamSummary&)>;

struct StreamRequest {
  const Addresses& requested;  // ascending, free of duplicates
  bool adding;
  // Ascending addresses that are only looked up (the inventory's): the
  // summary says which of them the old list holds.
  const Addresses& probes;
};

// Applies the request to the list of the locked update, which exists.
StreamOutcome stream_change(orbitforge::util::FileUpdate& update, const orbitforge::util::Key& key,
                            const StreamRequest& request, const StreamAccept& accept,
                            StreamSummary& summary, orbitforge::util::FileResult& failure);

// The addresses of the list at `path` when it is in the canonical layout,
// decoded from the container a piece at a time into `values`, so that its
// text is never whole in memory. False, with `values` empty, for any other
// list, which load_list then reads (and says what is wrong with it).
bool read_canonical_values(const std::string& path, const orbitforge::util::Key& key,
                           Addresses& values);
// The same for the list of a locked update, as it is under the lock.
bool read_canonical_values(const orbitforge::util::FileUpdate& update,
                           const orbitforge::util::Key& key, Addresses& values);

// A lower-case canonical line as two numbers that order as its address
// does: its bytes 0-7 and 9-16 read big-endian (byte 8 is always ':').
struct LineKey {
  std::uint64_t high;
  std::uint64_t low;
};

// The merge itself, for pieces of canonical list text (whole lines) given
// in order: what stream_change runs, reachable by the tests without files.
class LineMerge {
 public:
  // Where the merged text goes; false stops the merge (the output failed).
  using Output = std::function<bool(const unsigned char* text, std::size_t size)>;

  LineMerge(const StreamRequest& request, Output output);

  // Takes the next piece, which it may change in place (to lower case).
  // False when the piece is not canonical lines ascending from the last
  // piece's, or the output failed: the merge cannot go on.
  bool take(unsigned char* piece, std::size_t size);
  // Handles the requested addresses beyond the last line; false when the
  // output failed.
  bool finish();
  [[nodiscard]] const StreamSummary& summary() const { return summary_; }
  [[nodiscard]] bool output_failed() const { return output_failed_; }

 private:
  bool emit(const unsigned char* text, std::size_t size);
  bool emit_address(std::uint64_t value);
  bool merge_piece(const unsigned char* piece, std::size_t lines);
  void look_up_probes(const unsigned char* piece, std::size_t lines, const LineKey& last);

  const Addresses& requested_;
  bool adding_;
  const Addresses& probes_;
  Output output_;
  std::size_t next_ = 0;        // the first requested address not yet placed
  std::size_t next_probe_ = 0;  // the first probe not yet looked up
  bool have_last_ = false;
  LineKey last_{};  // the last line's so far
  bool output_failed_ = false;
  StreamSummary summary_;
};

}  // namespace adrvet_list
