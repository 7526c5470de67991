#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "crypto/container.h"
#include "crypto/container_format.h"
#include "crypto/file_io.h"
#include "crypto/wipe.h"

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

ContainerReader::~ContainerReader() {
  detail::clear_aes_context(ctx_);
  wipe(whole_.data(), whole_.size());
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

ContainerStatus ContainerReader::open(const char* path, const Key& key) {
  // Non-blocking, so that opening a FIFO never waits for a writer.
  fd_ = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) {
    return ContainerStatus::cannot_open;
  }
  struct stat status {};
  if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
    return ContainerStatus::not_regular_file;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > detail::kMaxContainerBytes) {
    return ContainerStatus::too_large;
  }
  if (size < detail::kMagicBytes) {
    return ContainerStatus::too_short;
  }
  if (size <= kWholeReadBytes) {
    return open_whole(size, key);
  }
  unsigned char head[detail::kBlockBytes];
  if (!detail::read_at(fd_, head, sizeof head, 0)) {
    return ContainerStatus::read_failed;
  }
  detail::setup_aes_context(ctx_, key);
  std::memcpy(first_counter_, ctx_.iv, sizeof first_counter_);
  AES_CTR_xcrypt_buffer(&ctx_, head, sizeof head);
  const ContainerStatus framing = check_framing(head, sizeof head, size);
  wipe(head, sizeof head);
  return framing;
}

// Most lists in the field are small: one read, one decryption, and the
// search then costs no system call at all.
ContainerStatus ContainerReader::open_whole(std::uint64_t size, const Key& key) {
  whole_.resize(static_cast<std::size_t>(size));
  if (!detail::read_at(fd_, whole_.data(), whole_.size(), 0)) {
    return ContainerStatus::read_failed;
  }
  detail::setup_aes_context(ctx_, key);
  AES_CTR_xcrypt_buffer(&ctx_, whole_.data(), static_cast<uint32_t>(whole_.size()));
  detail::clear_aes_context(ctx_);
  return check_framing(whole_.data(), std::min<std::size_t>(whole_.size(), detail::kBlockBytes),
                       size);
}

ContainerStatus ContainerReader::check_framing(const unsigned char* head, std::size_t head_size,
                                               std::uint64_t size) {
  if (std::memcmp(head, detail::magic, detail::kMagicBytes) != 0) {
    return ContainerStatus::wrong_key;
  }
  if (size < detail::kHeaderBytes) {
    return ContainerStatus::too_short;
  }
  const std::size_t pad_count = head_size > detail::kPadPosition ? head[detail::kPadPosition] : 0;
  if (pad_count > size - detail::kHeaderBytes) {
    return ContainerStatus::bad_pad_count;
  }
  payload_size_ = size - detail::kHeaderBytes - pad_count;
  return ContainerStatus::ok;
}

bool ContainerReader::read_payload(std::uint64_t offset, unsigned char* out, std::size_t size) {
  if (fd_ < 0 || offset > payload_size_ || size > payload_size_ - offset) {
    return false;
  }
  const std::uint64_t file_offset = detail::kHeaderBytes + offset;
  if (!whole_.empty()) {
    if (size != 0) {
      std::memcpy(out, whole_.data() + file_offset, size);
    }
    return true;
  }
  if (!detail::read_at(fd_, out, size, file_offset)) {
    return false;
  }
  counter_at(first_counter_, file_offset / detail::kBlockBytes, ctx_.iv);
  const std::size_t skip = file_offset % detail::kBlockBytes;
  if (skip != 0 && size != 0) {  // start inside a keystream block
    unsigned char block[detail::kBlockBytes] = {};
    const std::size_t head = std::min(size, detail::kBlockBytes - skip);
    std::memcpy(block + skip, out, head);
    AES_CTR_xcrypt_buffer(&ctx_, block, sizeof block);
    std::memcpy(out, block + skip, head);
    wipe(block, sizeof block);
    out += head;
    size -= head;
  }
  AES_CTR_xcrypt_buffer(&ctx_, out, static_cast<uint32_t>(size));
  return true;
}

}  // namespace orbitforge::util
