// digest: SHA-256 of files with the library's digest, printed as sha256sum does.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/file_descriptor.h"
#include "base/wipe.h"

#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/json.h"
#include "common/messages.h"
#include "common/text_excerpt.h"
#include "crypto/sha256.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list digest [--json] FILE...\n"
    "\n"
    "Prints the SHA-256 of each FILE as stored (a protected list is digested\n"
    "encrypted) in the format of sha256sum, so that 'sha256sum -c' accepts it.\n"
    "A FILE that is a list directory stands for the list in it (DIR/engine.dat,\n"
    "printed so); - reads standard input.\n"
    "--json prints one JSON document instead; a FILE that cannot be read has\n"
    "\"sha256\": null there.\n";

std::string digest_hex(const char* digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < 32; ++i) {
    const auto byte = static_cast<unsigned char>(digest[i]);
    hex += kHex[byte >> 4U];
    hex += kHex[byte & 15U];
  }
  return hex;
}

// sha256sum marks a name holding a backslash or a line break with a leading
// backslash and escapes those characters.
std::string digest_line(const char* digest, const std::string& name) {
  const bool escaped = name.find_first_of("\\\n\r") != std::string::npos;
  std::string line = (escaped ? "\\" : "") + digest_hex(digest) + "  ";
  for (const char c : name) {
    line += !escaped    ? std::string(1, c)
            : c == '\\' ? "\\\\"
            : c == '\n' ? "\\n"
            : c == '\r' ? "\\r"
                        : std::string(1, c);
  }
  return line + "\n";
}

// SHA-256 of what `fd` holds, read to its end; false with the reason.
bool digest_descriptor(int fd, char* digest, std::string& reason) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  std::vector<unsigned char> piece(std::size_t{1} << 17U);
  for (;;) {
    const ssize_t got = orbitforge::util::retry_on_interrupt(
        [&] { return ::read(fd, piece.data(), piece.size()); });
    if (got == 0) {
      break;
    }
    if (got < 0) {
      reason = std::strerror(errno);
      orbitforge::util::wipe(&ctx, sizeof ctx);
      return false;
    }
    sha256_update(&ctx, piece.data(), static_cast<std::uint64_t>(got));
  }
  sha256_final(&ctx, reinterpret_cast<std::uint8_t*>(digest));
  orbitforge::util::wipe(&ctx, sizeof ctx);
  return true;
}

// The digest of FILE (a regular file, or - for standard input); false with
// the reason.
bool digest_file(const std::string& name, char* digest, std::string& reason) {
  if (name == "-") {
    return digest_descriptor(STDIN_FILENO, digest, reason);
  }
  // Without blocking: a FIFO at the name must not hold the command up.
  const orbitforge::util::FileDescriptor fd(
      ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    reason = "not a regular file";
    return false;
  }
  return digest_descriptor(fd.get(), digest, reason);
}

// What a FILE argument names: a list directory stands for its list file.
std::string digested_name(const std::string& name) {
  struct stat status {};
  if (name != "-" && ::stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return list_file_path(name);
  }
  return name;
}

}  // namespace

const char* digest_usage() { return kUsage; }

int run_digest(const Options& options) {
  int status = kExitOk;
  Output out;
  const bool on_terminal = ::isatty(STDOUT_FILENO) != 0;
  Json files = Json::array();
  for (const std::string& given : options.positional) {
    const std::string name = digested_name(given);
    char digest[32];
    std::string reason;
    const bool read = digest_file(name, digest, reason);
    if (!read) {
      error("%s: cannot read: %s", name.c_str(), reason.c_str());
      status = kExitData;
    }
    if (options.json) {
      Json file = Json::object();
      file["path"] = name;
      file["sha256"] = read ? Json(digest_hex(digest)) : Json(nullptr);
      files.push_back(std::move(file));
    } else if (read) {
      // On a terminal, like ls, names show their control bytes escaped: a
      // glob over a shared directory may hold anybody's escape sequences.
      // Into a file or pipe they stay as sha256sum writes them, for -c.
      out.add(on_terminal && needs_terminal_escape(name)
                  ? digest_hex(digest) + "  " + terminal_text(name) + "\n"
                  : digest_line(digest, name));
    }
  }
  if (options.json) {
    Json document = json_document("digest");
    document["files"] = std::move(files);
    return print_json(document, status);
  }
  return finish_output(out, status);
}

}  // namespace adrvet_list
