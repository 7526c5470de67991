// Crash-safe replacement of a file found by resolve_write_target.
// Internal: not part of the installed interface.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>

#include "fs/detail/write_target.h"
#include "fs/file_result.h"

namespace orbitforge::util::detail {

struct ReplaceOptions {
  mode_t new_file_mode = 0600;  // for a file that does not exist yet
  bool apply_umask = false;     // new_file_mode less the umask, as open(2) does
  // Remove temporary files that earlier writers of this file left behind.
  // Only safe while holding the file's lock, when no other writer is alive.
  bool remove_stale_temporaries = false;
};

// A regular or missing file is replaced atomically: a temporary file beside
// it, created 0600 and given the final mode, owner and group before it is
// flushed and renamed over the old one; on any failure the old file stays
// as it was and the temporary is removed. An existing FIFO, device or
// socket (named directly) is opened without waiting and written in place.
FileResult replace_file(const WriteTarget& target, const unsigned char* data, std::size_t size,
                        const ReplaceOptions& options);

// Writes the content of a replacement to the temporary's descriptor; sets
// `replace` to false to keep the old file after all.
using ContentWriter = std::function<FileResult(int fd, bool& replace)>;

// replace_file for a regular or missing file, with content written by
// `write` instead of taken from memory. Declining leaves the old file and
// gives ok; a FIFO, device or socket gives cannot_open_special (ESPIPE),
// since the content may be rewritten in place before it is done.
FileResult replace_file_with(const WriteTarget& target, const ContentWriter& write,
                             const ReplaceOptions& options);

// Removes the temporary file that replace_file is writing, if any; safe to
// call from a signal handler (it only calls unlinkat).
void remove_unfinished_temporary() noexcept;

}  // namespace orbitforge::util::detail
