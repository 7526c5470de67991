// rekey: the same payload under the other key version.
#include "cli.h"
#include "commands.h"
#include "crypto/container.h"
#include "crypto/key_versions.h"
#include "list_file.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list rekey -k S|U --to S|U LIST [DEST]\n"
    "\n"
    "Rewrites LIST, whose key version is -k, under the key version --to: into DEST,\n"
    "or in place when DEST is absent. The payload is kept byte for byte.\n";

}  // namespace

int run_rekey(int argc, char* argv[]) {
  int status = kExitOk;
  const auto options = start_command(argc, argv, {"rekey", kUsage, kOptKey | kOptTo, 1, 2}, status);
  if (!options) {
    return status;
  }
  if (!options->to) {
    error("rekey: the new key version is required: --to S or --to U");
    return kExitUsage;
  }
  const std::string path = list_file_path(options->positional[0]);
  const std::string dest =
      options->positional.size() == 2 ? list_file_path(options->positional[1]) : path;
  std::vector<unsigned char> payload;
  if (!open_payload(path, *options->key, payload)) {
    return kExitData;
  }
  if (!orbitforge::util::write_container(dest.c_str(), payload.data(), payload.size(),
                                         orbitforge::util::key_for_version(*options->to))) {
    error("%s: cannot write the list", dest.c_str());
    return kExitData;
  }
  return kExitOk;
}

}  // namespace adrvet_list
