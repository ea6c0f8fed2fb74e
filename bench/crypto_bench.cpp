// Throughput of the digests and AES-256 beside OpenSSL's on the same input.
// OpenSSL picks its fastest code path for the CPU at start-up; run with
// OPENSSL_ia32cap=0:0 to compare against its plain integer path instead.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "aes.h"
#include "crypt.h"
#include "md5.h"
#include "sha256.h"

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

std::vector<uint8_t> bench_input(size_t n) {
  std::vector<uint8_t> v(n);
  uint32_t x = 2463534242u;
  for (uint8_t& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x);
  }
  return v;
}

const uint8_t kBenchKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                               17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

void BM_Sha256_Ours(benchmark::State& state) {
  std::vector<uint8_t> in = bench_input(size_t(state.range(0)));
  uint8_t d[32];
  for (auto _ : state) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, in.data(), uint32_t(in.size()));
    sha256_final(&ctx, d);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Sha256_Ours)->Arg(64)->Arg(16384);

void BM_Md5_Ours(benchmark::State& state) {
  std::vector<uint8_t> in = bench_input(size_t(state.range(0)));
  uint8_t d[16];
  for (auto _ : state) {
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, in.data(), uint32_t(in.size()));
    md5_final(&ctx, d);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5_Ours)->Arg(64)->Arg(16384);

// The block cipher alone, key set up once.
void BM_Aes256Encrypt_Ours(benchmark::State& state) {
  std::vector<uint8_t> in = bench_input(size_t(state.range(0))), out(in.size());
  aes_schedule ks;
  int rounds = aes_set_encrypt_key(&ks, kBenchKey, 256);
  for (auto _ : state) {
    for (size_t i = 0; i < in.size(); i += 16) aes_encrypt_block(&ks, rounds, in.data() + i, out.data() + i);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Aes256Encrypt_Ours)->Arg(64)->Arg(16384);

void BM_Aes256Decrypt_Ours(benchmark::State& state) {
  std::vector<uint8_t> in = bench_input(size_t(state.range(0))), out(in.size());
  aes_schedule ks;
  int rounds = aes_set_decrypt_key(&ks, kBenchKey, 256);
  for (auto _ : state) {
    for (size_t i = 0; i < in.size(); i += 16) aes_decrypt_block(&ks, rounds, in.data() + i, out.data() + i);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Aes256Decrypt_Ours)->Arg(64)->Arg(16384);

// The wrapper as the system calls it: key setup on every call.
void BM_CryptEncrypt(benchmark::State& state) {
  std::vector<uint8_t> in = bench_input(size_t(state.range(0))), out(in.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(crypt_encrypt(out.data(), in.data(), uint32_t(in.size()), kBenchKey));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_CryptEncrypt)->Arg(64)->Arg(16384);

#ifdef AMBIT_HAVE_OPENSSL

void openssl_digest(benchmark::State& state, const char* name) {
  std::vector<uint8_t> in = bench_input(size_t(state.range(0)));
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (!md) {
    state.SkipWithError("digest not available");
    return;
  }
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  uint8_t d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, in.data(), in.size());
    EVP_DigestFinal_ex(ctx, d, &n);
    benchmark::DoNotOptimize(d);
  }
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_Sha256_OpenSsl(benchmark::State& state) { openssl_digest(state, "SHA256"); }
BENCHMARK(BM_Sha256_OpenSsl)->Arg(64)->Arg(16384);

void BM_Md5_OpenSsl(benchmark::State& state) { openssl_digest(state, "MD5"); }
BENCHMARK(BM_Md5_OpenSsl)->Arg(64)->Arg(16384);

void openssl_aes(benchmark::State& state, bool encrypt) {
  std::vector<uint8_t> in = bench_input(size_t(state.range(0))), out(in.size() + 16);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, kBenchKey, nullptr, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  int n = 0;
  for (auto _ : state) {
    EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_Aes256Encrypt_OpenSsl(benchmark::State& state) { openssl_aes(state, true); }
BENCHMARK(BM_Aes256Encrypt_OpenSsl)->Arg(64)->Arg(16384);

void BM_Aes256Decrypt_OpenSsl(benchmark::State& state) { openssl_aes(state, false); }
BENCHMARK(BM_Aes256Decrypt_OpenSsl)->Arg(64)->Arg(16384);

#endif

}  // namespace
