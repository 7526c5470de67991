// Reads a container piece by piece; the head's rules are container.cpp's.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/file_descriptor.h"
#include "base/secret_bytes.h"
#include "base/wipe.h"
#include "crypto/container.h"
#include "crypto/detail/container_format.h"
#include "fs/detail/file_io.h"

namespace orbitforge::util {
namespace {

// counter = first + blocks, as a big-endian 128-bit number.
void counter_at(const unsigned char* first, std::uint64_t blocks, unsigned char* counter) {
  std::memcpy(counter, first, detail::kBlockBytes);
  unsigned carry = 0;
  for (std::size_t b = detail::kBlockBytes; b-- > 0;) {
    const unsigned sum = counter[b] + static_cast<unsigned>(blocks & 0xffU) + carry;
    counter[b] = static_cast<unsigned char>(sum);
    carry = sum >> 8U;
    blocks >>= 8U;
  }
}

}  // namespace

struct ContainerReader::State {
  FileDescriptor fd;
  AES_ctx ctx{};
  SecretBytes whole;  // the decrypted file, when read whole
  unsigned char first_counter[16]{};
  std::uint64_t payload_size = 0;
  std::uint64_t file_size = 0;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    detail::clear_aes_context(ctx);
    wipe(first_counter, sizeof first_counter);
  }
};

namespace {

// Most lists in the field are small: one read, one decryption, and the
// search then costs no system call at all.
ContainerStatus open_whole(ContainerReader::State& state, std::uint64_t size, const Key& key) {
  state.whole.resize(static_cast<std::size_t>(size));
  if (!detail::read_at(state.fd.get(), state.whole.data(), state.whole.size(), 0)) {
    return ContainerStatus::read_failed;
  }
  detail::setup_aes_context(state.ctx, key);
  AES_CTR_xcrypt_buffer(&state.ctx, state.whole.data(), static_cast<uint32_t>(state.whole.size()));
  detail::clear_aes_context(state.ctx);
  return detail::parse_container_head(state.whole.data(), size, state.payload_size);
}

ContainerStatus open_piecewise(ContainerReader::State& state, std::uint64_t size, const Key& key) {
  // Large lists are read front to back: a larger read-ahead, as cat asks
  // for. Advice only, so its failure changes nothing.
  (void)::posix_fadvise(state.fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  unsigned char head[detail::kBlockBytes];
  if (!detail::read_at(state.fd.get(), head, sizeof head, 0)) {
    return ContainerStatus::read_failed;
  }
  detail::setup_aes_context(state.ctx, key);
  std::memcpy(state.first_counter, state.ctx.iv, sizeof state.first_counter);
  AES_CTR_xcrypt_buffer(&state.ctx, head, sizeof head);
  const ContainerStatus framing = detail::parse_container_head(head, size, state.payload_size);
  wipe(head, sizeof head);
  return framing;
}

// Decrypts file bytes [file_offset, file_offset + size) into `out`.
bool read_plain(ContainerReader::State& state, std::uint64_t file_offset, unsigned char* out,
                std::size_t size) {
  if (!state.whole.empty()) {
    if (size != 0) {
      std::memcpy(out, state.whole.data() + file_offset, size);
    }
    return true;
  }
  if (!detail::read_at(state.fd.get(), out, size, file_offset)) {
    return false;
  }
  // A context of its own, so that reads may run on several threads at once.
  AES_ctx ctx = state.ctx;
  counter_at(state.first_counter, file_offset / detail::kBlockBytes, ctx.iv);
  const std::size_t skip = file_offset % detail::kBlockBytes;
  if (skip != 0 && size != 0) {  // start inside a keystream block
    unsigned char block[detail::kBlockBytes] = {};
    const std::size_t head = std::min(size, detail::kBlockBytes - skip);
    std::memcpy(block + skip, out, head);
    AES_CTR_xcrypt_buffer(&ctx, block, sizeof block);
    std::memcpy(out, block + skip, head);
    wipe(block, sizeof block);
    out += head;
    size -= head;
  }
  AES_CTR_xcrypt_buffer(&ctx, out, static_cast<uint32_t>(size));
  detail::clear_aes_context(ctx);
  return true;
}

}  // namespace

ContainerReader::ContainerReader() : state_(std::make_unique<State>()) {}

ContainerReader::~ContainerReader() = default;

std::uint64_t ContainerReader::payload_size() const noexcept { return state_->payload_size; }

namespace {

// Checks the file of an opened descriptor and reads its head.
ContainerStatus open_descriptor(ContainerReader::State& state, const Key& key, int& error) {
  struct stat status {};
  if (::fstat(state.fd.get(), &status) != 0) {
    error = errno;
    return ContainerStatus::read_failed;
  }
  if (!S_ISREG(status.st_mode) || status.st_size < 0) {
    return ContainerStatus::not_regular_file;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > detail::kMaxContainerBytes) {
    return ContainerStatus::too_large;
  }
  state.file_size = size;
  const ContainerStatus opened = size <= ContainerReader::kWholeReadBytes
                                     ? open_whole(state, size, key)
                                     : open_piecewise(state, size, key);
  if (opened == ContainerStatus::read_failed) {
    error = errno;
  }
  return opened;
}

}  // namespace

ContainerStatus ContainerReader::open(const char* path, const Key& key) {
  state_ = std::make_unique<State>();  // closes and wipes what an earlier open left
  State& state = *state_;
  // Non-blocking, so that opening a FIFO never waits for a writer.
  state.fd.reset(detail::open_for_reading(path));
  if (!state.fd.valid()) {
    return ContainerStatus::cannot_open;
  }
  int ignored = 0;
  return open_descriptor(state, key, ignored);
}

ContainerStatus ContainerReader::open(const FileUpdate& update, const Key& key,
                                      OpenDetails& details) {
  state_ = std::make_unique<State>();
  State& state = *state_;
  details = OpenDetails{};
  if (const FileResult opened = update.open_current(state.fd); !opened.ok()) {
    details.error = opened.error;
    return opened.status == FileStatus::cannot_open_file ? ContainerStatus::cannot_open
                                                         : ContainerStatus::read_failed;
  }
  const ContainerStatus status = open_descriptor(state, key, details.error);
  if (status != ContainerStatus::ok) {
    return status;
  }
  // What only the writer guarantees: whole blocks and a zero pad.
  const std::uint64_t pad = state.file_size - detail::kHeaderBytes - state.payload_size;
  details.intact = state.file_size % detail::kBlockBytes == 0;
  if (details.intact && pad != 0) {
    unsigned char tail[256];
    if (!read_plain(state, state.file_size - pad, tail, static_cast<std::size_t>(pad))) {
      details.error = errno;
      return ContainerStatus::read_failed;
    }
    details.intact = std::all_of(tail, tail + pad, [](unsigned char c) { return c == 0; });
    wipe(tail, sizeof tail);
  }
  return ContainerStatus::ok;
}

bool ContainerReader::read_payload(std::uint64_t offset, unsigned char* out, std::size_t size) {
  State& state = *state_;
  if (!state.fd.valid() || offset > state.payload_size || size > state.payload_size - offset) {
    return false;
  }
  return read_plain(state, detail::kHeaderBytes + offset, out, size);
}

}  // namespace orbitforge::util
