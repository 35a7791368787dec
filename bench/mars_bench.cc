// Costs of the MARS cipher that encrypted storage files (write mode 3) go through, beside
// OpenSSL's AES-128 in the same mode as a reference for a block cipher on this machine.
//
//   MarsEncrypt, MarsDecrypt   1 MiB in place, as the file writer does (16-byte blocks, ECB)
//   MarsKeySetup               set_key with the fixed 288-bit file key (once per file read or
//                              write)
//   OpenSslAes128EcbEncrypt, OpenSslAes128EcbDecrypt
//                              1 MiB in place through EVP, no padding
//
// OpenSSL uses AES-NI where the processor has it. For its software code, which like MARS works
// from tables, run with OPENSSL_ia32cap="~0x200020000000000" in the environment (masks AES-NI
// and SSSE3).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/mars.h"

namespace {

constexpr size_t kBufferBytes = 1 << 20;

std::vector<uint8_t> MakeBuffer() {
  std::vector<uint8_t> buffer(kBufferBytes);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 131 + 7);
  return buffer;
}

void BM_MarsEncrypt(benchmark::State& state) {
  const base::mars cipher;
  std::vector<uint8_t> buffer = MakeBuffer();
  for (auto _ : state) {
    cipher.encrypt_buffer(buffer.data(), buffer.size());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBufferBytes);
}
BENCHMARK(BM_MarsEncrypt);

void BM_MarsDecrypt(benchmark::State& state) {
  const base::mars cipher;
  std::vector<uint8_t> buffer = MakeBuffer();
  for (auto _ : state) {
    cipher.decrypt_buffer(buffer.data(), buffer.size());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBufferBytes);
}
BENCHMARK(BM_MarsDecrypt);

void BM_MarsKeySetup(benchmark::State& state) {
  base::mars cipher;
  const auto* key = reinterpret_cast<const uint8_t*>(base::kMarsFixedKey);
  for (auto _ : state) {
    cipher.set_key(key, base::kMarsFixedKeyBits);
    benchmark::DoNotOptimize(&cipher);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_MarsKeySetup);

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

void OpenSslAes128Ecb(benchmark::State& state, bool encrypt) {
  const unsigned char key[16] = {0x2B, 0x7E, 0x15, 0x16, 0x28, 0xAE, 0xD2, 0xA6,
                                 0xAB, 0xF7, 0x15, 0x88, 0x09, 0xCF, 0x4F, 0x3C};
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
  if (!context ||
      EVP_CipherInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, key, nullptr, encrypt) != 1 ||
      EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1) {
    state.SkipWithError("OpenSSL AES-128-ECB not available");
    return;
  }
  std::vector<uint8_t> buffer = MakeBuffer();
  const int length = static_cast<int>(buffer.size());
  for (auto _ : state) {
    int written = 0;
    if (EVP_CipherUpdate(context.get(), buffer.data(), &written, buffer.data(), length) != 1 ||
        written != length) {
      state.SkipWithError("EVP_CipherUpdate failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBufferBytes);
}

void BM_OpenSslAes128EcbEncrypt(benchmark::State& state) { OpenSslAes128Ecb(state, true); }
BENCHMARK(BM_OpenSslAes128EcbEncrypt);

void BM_OpenSslAes128EcbDecrypt(benchmark::State& state) { OpenSslAes128Ecb(state, false); }
BENCHMARK(BM_OpenSslAes128EcbDecrypt);

}  // namespace
