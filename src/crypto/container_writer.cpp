// Writes a container piece by piece; the format's rules are container.cpp's.
#include <algorithm>
#include <cstring>

#include "base/secret_bytes.h"
#include "base/wipe.h"
#include "crypto/container.h"
#include "crypto/detail/container_format.h"

namespace orbitforge::util {

struct ContainerWriter::State {
  ContentSink& sink;
  AES_ctx ctx{};
  AES_ctx start{};  // at block 0, for the head's second writing
  // Plaintext waiting to be encrypted: whole blocks go out when it is full.
  SecretBytes buffer;
  std::size_t used = 0;
  std::uint64_t sent = 0;  // bytes of the file handed to the sink
  std::uint64_t payload_size = 0;
  // The first block as written, for setting its pad count at the end.
  unsigned char first_block[detail::kBlockBytes]{};
  bool failed = false;
  bool too_large = false;

  State(ContentSink& out, const Key& key) : sink(out), buffer(kPieceBytes) {
    detail::setup_aes_context(ctx, key);
    start = ctx;
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    detail::clear_aes_context(ctx);
    detail::clear_aes_context(start);
    wipe(first_block, sizeof first_block);
  }

  // Big enough that the system calls do not count, small enough to stay in
  // the cache between formatting and encryption.
  static constexpr std::size_t kPieceBytes = std::size_t{256} << 10U;
};

namespace {

// Encrypts and sends the whole blocks in the buffer; a partial block stays.
bool send_blocks(ContainerWriter::State& state) {
  const std::size_t whole = state.used / detail::kBlockBytes * detail::kBlockBytes;
  if (whole == 0) {
    return !state.failed;
  }
  if (state.sent == 0) {
    std::memcpy(state.first_block, state.buffer.data(), detail::kBlockBytes);
  }
  AES_CTR_xcrypt_buffer(&state.ctx, state.buffer.data(), static_cast<std::uint32_t>(whole));
  if (!state.failed && !state.sink.append(state.buffer.data(), whole)) {
    state.failed = true;
  }
  state.sent += whole;
  std::memmove(state.buffer.data(), state.buffer.data() + whole, state.used - whole);
  state.used -= whole;
  return !state.failed;
}

bool put(ContainerWriter::State& state, const unsigned char* data, std::size_t size) {
  while (size != 0) {
    const std::size_t room = state.buffer.size() - state.used;
    const std::size_t step = std::min(room, size);
    std::memcpy(state.buffer.data() + state.used, data, step);
    state.used += step;
    data += step;
    size -= step;
    if (state.used == state.buffer.size() && !send_blocks(state)) {
      return false;
    }
  }
  return !state.failed;
}

}  // namespace

ContainerWriter::ContainerWriter(ContentSink& sink, const Key& key)
    : state_(std::make_unique<State>(sink, key)) {
  unsigned char head[detail::kHeaderBytes] = {};
  std::memcpy(head, detail::magic, detail::kMagicBytes);  // the pad count follows at the end
  (void)put(*state_, head, sizeof head);
}

ContainerWriter::~ContainerWriter() = default;

bool ContainerWriter::append(const unsigned char* payload, std::size_t size) {
  State& state = *state_;
  if (size > detail::kMaxPlainBytes - state.payload_size) {
    state.too_large = true;
    return false;
  }
  state.payload_size += size;
  return put(state, payload, size);
}

bool ContainerWriter::finish() {
  State& state = *state_;
  if (state.too_large) {
    return false;
  }
  const std::size_t pad_count =
      detail::kBlockBytes - (detail::kHeaderBytes + state.payload_size) % detail::kBlockBytes;
  const unsigned char zeros[detail::kBlockBytes] = {};
  if (!put(state, zeros, pad_count)) {
    return false;
  }
  const auto pad = static_cast<unsigned char>(pad_count);
  if (state.sent == 0) {  // the head is still here: set it before it goes
    state.buffer[detail::kPadPosition] = pad;
    return send_blocks(state);
  }
  if (!send_blocks(state)) {
    return false;
  }
  // The first block again, with its pad count, under the counter of block 0.
  unsigned char block[detail::kBlockBytes];
  std::memcpy(block, state.first_block, sizeof block);
  block[detail::kPadPosition] = pad;
  AES_CTR_xcrypt_buffer(&state.start, block, sizeof block);
  const bool rewritten = state.sink.rewrite(0, block, sizeof block);
  wipe(block, sizeof block);
  state.failed = !rewritten;
  return rewritten;
}

bool ContainerWriter::too_large() const noexcept { return state_->too_large; }

std::uint64_t ContainerWriter::payload_size() const noexcept { return state_->payload_size; }

}  // namespace orbitforge::util
