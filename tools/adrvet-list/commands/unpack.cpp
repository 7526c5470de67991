// unpack: the payload of a list exactly as stored.
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/messages.h"
#include "fs/file_update.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list unpack -k S|U LIST [OUTPUT]\n"
    "\n"
    "Writes the payload of LIST, byte for byte as stored, to OUTPUT or, when OUTPUT\n"
    "is absent or -, to standard output. A new OUTPUT gets mode 600: it is the list\n"
    "in plain text.\n";

}  // namespace

const char* unpack_usage() { return kUsage; }

int run_unpack(const Options& options) {
  const std::string path = list_file_path(options.positional[0]);
  const bool to_file = options.positional.size() == 2 && options.positional[1] != "-";
  if (to_file && same_file(path, options.positional[1])) {
    error(
        "unpack: OUTPUT '%s' is LIST itself; it would replace the protected list with its "
        "plain text",
        options.positional[1].c_str());
    return kExitUsage;
  }
  orbitforge::util::SecretBytes payload;
  if (!open_payload(path, *options.key, payload)) {
    return kExitData;
  }
  if (to_file) {
    const std::string& output = options.positional[1];
    const orbitforge::util::FileResult written =
        orbitforge::util::write_file(output.c_str(), payload.data(), payload.size());
    if (!written.ok()) {
      report_write_failure(output, written);
      return kExitData;
    }
    return kExitOk;
  }
  Output out;
  out.add(reinterpret_cast<const char*>(payload.data()), payload.size());
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
