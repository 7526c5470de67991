// digest: SHA-256 of files with the library's digest, printed as sha256sum does.
#include <cstring>

#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/messages.h"
#include "crypto/crypto.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list digest FILE...\n"
    "\n"
    "Prints the SHA-256 of each FILE as stored (a protected list is digested\n"
    "encrypted) in the format of sha256sum, so that 'sha256sum -c' accepts it.\n";

// sha256sum marks a name holding a backslash or a line break with a leading
// backslash and escapes those characters.
std::string digest_line(const char* digest, const std::string& name) {
  static constexpr char kHex[] = "0123456789abcdef";
  const bool escaped = name.find_first_of("\\\n\r") != std::string::npos;
  std::string line = escaped ? "\\" : "";
  for (int i = 0; i < 32; ++i) {
    const auto byte = static_cast<unsigned char>(digest[i]);
    line += kHex[byte >> 4U];
    line += kHex[byte & 15U];
  }
  line += "  ";
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
  for (const std::string& name : options.positional) {
    char digest[32];
    if (!orbitforge::util::hash_file(name.c_str(), digest, sizeof digest)) {
      error("%s: cannot read", name.c_str());
      status = kExitData;
      continue;
    }
    out.add(digest_line(digest, name));
  }
  return finish_output(out, status);
}

}  // namespace adrvet_list
