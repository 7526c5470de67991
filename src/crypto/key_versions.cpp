#include "crypto/key_versions.h"

#include <cstring>

#include "base/wipe.h"

namespace orbitforge::util {
namespace {

constexpr std::size_t kPassPhraseSize = 16;
constexpr char kPassPhraseS[] = "k8P!vR3=wT6#yU1$";
constexpr char kPassPhraseU[] = "Hn5%Jd2^Ls8&Mq4*";
static_assert(sizeof kPassPhraseS == kPassPhraseSize + 1 &&
              sizeof kPassPhraseU == kPassPhraseSize + 1);

}  // namespace

Key key_for_version(int version) {
  char pass_phrase[kPassPhraseSize];  // exactly the 16 characters: no terminator joins the key
  std::memcpy(pass_phrase, version == kKeyVersionU ? kPassPhraseU : kPassPhraseS, kPassPhraseSize);
  Key key(pass_phrase);
  wipe(pass_phrase, sizeof pass_phrase);
  return key;
}

std::optional<int> parse_key_version(std::string_view text) {
  if (text == "S" || text == "s") {
    return kKeyVersionS;
  }
  if (text == "U" || text == "u") {
    return kKeyVersionU;
  }
  return std::nullopt;
}

}  // namespace orbitforge::util
