// Our digests and HMAC against OpenSSL's on the same buffers, in one run, so
// that the throughput ratios hold for this machine:
//   crypto_bench --benchmark_filter='Digest|Hmac'
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "crypto/hash_algorithm.h"
#include "crypto/hmac.h"

namespace {

constexpr size_t kMessageSize = 32 * 1024;
constexpr size_t kHeaderSize = 132;
constexpr size_t kRecordSize = 3;

std::vector<uint8_t> makeBuffer(size_t size) {
  std::vector<uint8_t> buffer(size);
  uint32_t x = 2463534242u;
  for (auto& b : buffer) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return buffer;
}

const EVP_MD* opensslDigest(haHashAlgorithm_e alg) {
  switch (alg) {
    case HA_ALG_MD5: return EVP_md5();
    case HA_ALG_SHA1: return EVP_sha1();
    default: return EVP_sha256();
  }
}

void BM_Digest_Ours(benchmark::State& state, haHashAlgorithm_e alg) {
  const auto message = makeBuffer(kMessageSize);
  haxx_CTX ctx;
  for (auto _ : state) {
    haHashAll(&ctx, message.data(), message.size(), alg, 0, 0);
    benchmark::DoNotOptimize(ctx.digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}

void BM_Digest_OpenSsl(benchmark::State& state, haHashAlgorithm_e alg) {
  const auto message = makeBuffer(kMessageSize);
  const EVP_MD* md = opensslDigest(alg);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  for (auto _ : state) {
    EVP_Digest(message.data(), message.size(), digest, &length, md, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}

// A record's authentication: a 16-byte key, the 132-byte header and 3 bytes
// of record data.
void BM_HmacSha1_Ours(benchmark::State& state) {
  const auto key = makeBuffer(16);
  const auto record = makeBuffer(kHeaderSize + kRecordSize);
  haxx_CTX ctx;
  for (auto _ : state) {
    haHMACInit(HA_ALG_SHA1, key.data(), key.size(), &ctx);
    haHMACUpdate(record.data(), kHeaderSize, &ctx);
    haHMACUpdate(record.data() + kHeaderSize, kRecordSize, &ctx);
    haHMACFinal(0, 0, &ctx);
    benchmark::DoNotOptimize(ctx.digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * record.size()));
}

// OpenSSL's MAC object fetched once and its context reused: its fastest form.
void BM_HmacSha1_OpenSsl(benchmark::State& state) {
  const auto key = makeBuffer(16);
  const auto record = makeBuffer(kHeaderSize + kRecordSize);
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
  char digestName[] = "SHA1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
                               OSSL_PARAM_construct_end()};
  unsigned char out[EVP_MAX_MD_SIZE];
  size_t length = 0;
  for (auto _ : state) {
    EVP_MAC_init(ctx, key.data(), key.size(), params);
    EVP_MAC_update(ctx, record.data(), kHeaderSize);
    EVP_MAC_update(ctx, record.data() + kHeaderSize, kRecordSize);
    EVP_MAC_final(ctx, out, &length, sizeof out);
    benchmark::DoNotOptimize(out);
  }
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * record.size()));
}

// OpenSSL's one-call HMAC(), which sets everything up on each call.
void BM_HmacSha1_OpenSslOneCall(benchmark::State& state) {
  const auto key = makeBuffer(16);
  const auto record = makeBuffer(kHeaderSize + kRecordSize);
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  for (auto _ : state) {
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), record.data(), record.size(), out, &length);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * record.size()));
}

BENCHMARK_CAPTURE(BM_Digest_Ours, SHA1, HA_ALG_SHA1);
BENCHMARK_CAPTURE(BM_Digest_OpenSsl, SHA1, HA_ALG_SHA1);
BENCHMARK_CAPTURE(BM_Digest_Ours, SHA256, HA_ALG_SHA256);
BENCHMARK_CAPTURE(BM_Digest_OpenSsl, SHA256, HA_ALG_SHA256);
BENCHMARK_CAPTURE(BM_Digest_Ours, MD5, HA_ALG_MD5);
BENCHMARK_CAPTURE(BM_Digest_OpenSsl, MD5, HA_ALG_MD5);
BENCHMARK(BM_HmacSha1_Ours);
BENCHMARK(BM_HmacSha1_OpenSsl);
BENCHMARK(BM_HmacSha1_OpenSslOneCall);

}  // namespace
