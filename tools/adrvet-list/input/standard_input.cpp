#include "input/standard_input.h"

#include <unistd.h>

#include <cerrno>

#include "base/file_descriptor.h"

namespace adrvet_list {

int read_standard_input(std::vector<unsigned char>& data) {
  unsigned char chunk[65536];
  for (;;) {
    const ssize_t got = orbitforge::util::retry_on_interrupt(
        [&] { return ::read(STDIN_FILENO, chunk, sizeof chunk); });
    if (got < 0) {
      return errno;
    }
    if (got == 0) {
      return 0;
    }
    data.insert(data.end(), chunk, chunk + got);
  }
}

}  // namespace adrvet_list
