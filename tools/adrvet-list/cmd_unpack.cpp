// unpack: the payload of a list exactly as stored.
#include "cli.h"
#include "commands.h"
#include "crypto/container.h"
#include "crypto/file_io.h"
#include "crypto/key_versions.h"
#include "list_file.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list unpack -k S|U LIST [OUTPUT]\n"
    "\n"
    "Writes the payload of LIST, byte for byte as stored, to OUTPUT or, when OUTPUT\n"
    "is absent or -, to standard output.\n";

}  // namespace

int run_unpack(int argc, char* argv[]) {
  int status = kExitOk;
  const auto options = start_command(argc, argv, {"unpack", kUsage, kOptKey, 1, 2}, status);
  if (!options) {
    return status;
  }
  const std::string path = list_file_path(options->positional[0]);
  std::vector<unsigned char> payload;
  if (!open_payload(path, *options->key, payload)) {
    return kExitData;
  }
  if (options->positional.size() == 2 && options->positional[1] != "-") {
    const std::string& output = options->positional[1];
    if (!orbitforge::util::detail::save_file(output.c_str(), payload)) {
      error("%s: cannot write", output.c_str());
      return kExitData;
    }
    return kExitOk;
  }
  Output out;
  out.add(reinterpret_cast<const char*>(payload.data()), payload.size());
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
