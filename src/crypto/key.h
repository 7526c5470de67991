// The key of a protected container: the bytes of a pass phrase, from which
// the container's AES-128 key is derived (crypto.h).
#pragma once

#include <cstddef>
#include <vector>

namespace orbitforge::util {

class Key {
 public:
  // Keeps all N bytes of the array, a terminating zero included.
  template <std::size_t N>
  Key(const char (&key)[N])  // NOLINT(google-explicit-constructor,hicpp-explicit-conversions)
      : bytes_(key, key + N) {}
  Key(const Key&) = default;
  Key& operator=(const Key&) = default;
  ~Key();

  // Byte i modulo the key's length, so indexing wraps around.
  char operator[](int i) const;
  [[nodiscard]] std::size_t size() const noexcept { return bytes_.size(); }

 private:
  std::vector<char> bytes_;
};

}  // namespace orbitforge::util
