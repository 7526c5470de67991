// digest: SHA-256 of files with the library's digest, printed as sha256sum does.
#include <unistd.h>

#include <cstring>
#include <string>

#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/json.h"
#include "common/messages.h"
#include "common/text_excerpt.h"
#include "crypto/crypto.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list digest [--json] FILE...\n"
    "\n"
    "Prints the SHA-256 of each FILE as stored (a protected list is digested\n"
    "encrypted) in the format of sha256sum, so that 'sha256sum -c' accepts it.\n"
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

}  // namespace

const char* digest_usage() { return kUsage; }

int run_digest(const Options& options) {
  int status = kExitOk;
  Output out;
  const bool on_terminal = ::isatty(STDOUT_FILENO) != 0;
  Json files = Json::array();
  for (const std::string& name : options.positional) {
    char digest[32];
    const bool read = orbitforge::util::hash_file(name.c_str(), digest, sizeof digest);
    if (!read) {
      error("%s: cannot read", name.c_str());
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
