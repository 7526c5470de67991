// Throughput of the primitives: every AES and SHA-256 implementation of the
// library beside OpenSSL's, on small and large buffers, in one harness.
//   adrvet-bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/detail/aes_impl.h"
#include "crypto/detail/sha256_impl.h"

namespace {

using orbitforge::util::detail::AesBackend;
using orbitforge::util::detail::Sha256Backend;

constexpr std::int64_t kSizes[] = {64, 4096, 16 << 20};

std::vector<uint8_t> buffer_of(std::int64_t size) {
  std::vector<uint8_t> buffer(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    buffer[i] = static_cast<uint8_t>(i * 131 + 7);
  }
  return buffer;
}

const uint8_t kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                          0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const uint8_t kIv[16] = {0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7,
                         0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff};

enum class Mode { ctr, ecb_encrypt, ecb_decrypt, cbc_encrypt, cbc_decrypt };

void run_mode(const AesBackend& backend, Mode mode, AES_ctx& ctx, std::vector<uint8_t>& buffer) {
  const auto length = static_cast<uint32_t>(buffer.size());
  switch (mode) {
    case Mode::ctr:
      backend.ctr_xcrypt(&ctx, buffer.data(), length);
      break;
    case Mode::cbc_encrypt:
      backend.cbc_encrypt(&ctx, buffer.data(), length);
      break;
    case Mode::cbc_decrypt:
      backend.cbc_decrypt(&ctx, buffer.data(), length);
      break;
    case Mode::ecb_encrypt:  // the interface is one block per call
      for (std::size_t at = 0; at < buffer.size(); at += 16) {
        backend.ecb_encrypt(&ctx, buffer.data() + at);
      }
      break;
    case Mode::ecb_decrypt:
      for (std::size_t at = 0; at < buffer.size(); at += 16) {
        backend.ecb_decrypt(&ctx, buffer.data() + at);
      }
      break;
  }
}

void run_aes(benchmark::State& state, const AesBackend* backend, Mode mode) {
  if (backend == nullptr) {
    state.SkipWithError("this processor cannot run this implementation");
    return;
  }
  auto buffer = buffer_of(state.range(0));
  AES_ctx ctx;
  backend->key_expansion(ctx.round_keys, kKey);
  AES_ctx_set_iv(&ctx, kIv);
  for (auto _ : state) {
    run_mode(*backend, mode, ctx, buffer);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// In place, like the library's modes, so that both move the same bytes.
void run_openssl_cipher(benchmark::State& state, const EVP_CIPHER* cipher, bool encrypt) {
  auto buffer = buffer_of(state.range(0));
  const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                            &EVP_CIPHER_CTX_free);
  EVP_CipherInit_ex(ctx.get(), cipher, nullptr, kKey, kIv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  for (auto _ : state) {
    int produced = 0;
    EVP_CipherUpdate(ctx.get(), buffer.data(), &produced, buffer.data(),
                     static_cast<int>(buffer.size()));
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void run_sha(benchmark::State& state, const Sha256Backend* backend) {
  if (backend == nullptr) {
    state.SkipWithError("this processor cannot run this implementation");
    return;
  }
  const auto buffer = buffer_of(state.range(0));
  for (auto _ : state) {
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    backend->compress(h, buffer.data(), buffer.size() / 64);
    benchmark::DoNotOptimize(h);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void run_openssl_sha(benchmark::State& state) {
  const auto buffer = buffer_of(state.range(0));
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  for (auto _ : state) {
    EVP_Digest(buffer.data(), buffer.size(), digest, &length, EVP_sha256(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

const Sha256Backend* portable_sha() { return &orbitforge::util::detail::sha256_portable_backend(); }
const Sha256Backend* fast_sha() { return orbitforge::util::detail::sha256_ni_backend(); }

void sizes(benchmark::internal::Benchmark* b) {
  for (const std::int64_t size : kSizes) {
    b->Arg(size);
  }
}

struct ModeRow {
  const char* name;
  const EVP_CIPHER* (*openssl)();
  Mode mode;
  bool encrypt;
};

constexpr ModeRow kModes[] = {
    {"AesCtr", EVP_aes_128_ctr, Mode::ctr, true},
    {"AesEcbEncrypt", EVP_aes_128_ecb, Mode::ecb_encrypt, true},
    {"AesEcbDecrypt", EVP_aes_128_ecb, Mode::ecb_decrypt, false},
    {"AesCbcEncrypt", EVP_aes_128_cbc, Mode::cbc_encrypt, true},
    {"AesCbcDecrypt", EVP_aes_128_cbc, Mode::cbc_decrypt, false},
};

// BM_<mode>_<implementation> for every implementation in the table, then
// BM_<mode>_OpenSSL.
void register_aes() {
  orbitforge::util::detail::AesBackendEntry entries[orbitforge::util::detail::kAesBackendCount];
  orbitforge::util::detail::aes_backends(entries);
  for (const ModeRow& row : kModes) {
    for (const auto& entry : entries) {
      const std::string name = std::string("BM_") + row.name + "_" + entry.name;
      benchmark::RegisterBenchmark(name.c_str(), [entry, row](benchmark::State& s) {
        run_aes(s, entry.backend, row.mode);
      })->Apply(sizes);
    }
    const std::string name = std::string("BM_") + row.name + "_OpenSSL";
    benchmark::RegisterBenchmark(name.c_str(), [row](benchmark::State& s) {
      run_openssl_cipher(s, row.openssl(), row.encrypt);
    })->Apply(sizes);
  }
}

void BM_Sha256_Portable(benchmark::State& s) { run_sha(s, portable_sha()); }
void BM_Sha256_Fast(benchmark::State& s) { run_sha(s, fast_sha()); }
void BM_Sha256_OpenSSL(benchmark::State& s) { run_openssl_sha(s); }

BENCHMARK(BM_Sha256_Portable)->Apply(sizes);
BENCHMARK(BM_Sha256_Fast)->Apply(sizes);
BENCHMARK(BM_Sha256_OpenSSL)->Apply(sizes);

}  // namespace

int main(int argc, char** argv) {
  register_aes();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
