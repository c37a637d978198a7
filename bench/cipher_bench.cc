// The payload cipher against OpenSSL's triple DES in cipher block chaining on
// the same buffers. Both sides set up their keys in every iteration, as the
// secure store does for every record. The goal: RSecPEncrypt over the
// largest payload (32896 bytes) reaches at least 0.9 of the throughput of
// OpenSSL's DES-EDE3-CBC over the same length.
#include <openssl/des.h>
#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "crypto/payload_cipher.h"

namespace {

constexpr int kRecordPayload = 128;
constexpr int kLargestPayload = 32896;

std::vector<unsigned char> randomBytes(size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<unsigned char> bytes(count);
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(generator());
  return bytes;
}

void BM_RSecPEncrypt(benchmark::State& state) {
  const auto length = static_cast<uint16_t>(state.range(0));
  const std::vector<unsigned char> key = randomBytes(24, 1);
  std::vector<unsigned char> data = randomBytes(length, 2);
  for (auto _ : state) {
    RSecPEncrypt(key.data(), 24, data.data(), length, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * length);
}

void BM_RSecPDecrypt(benchmark::State& state) {
  const auto length = static_cast<uint16_t>(state.range(0));
  const std::vector<unsigned char> key = randomBytes(24, 1);
  std::vector<unsigned char> data = randomBytes(length, 2);
  for (auto _ : state) {
    RSecPDecrypt(key.data(), 24, data.data(), length, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * length);
}

void BM_OpenSslEvpDesEde3Cbc(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  const std::vector<unsigned char> key = randomBytes(24, 1);
  std::vector<unsigned char> data = randomBytes(length, 2);
  const unsigned char iv[8] = {};
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  for (auto _ : state) {
    int written = 0;
    int finalWritten = 0;
    if (EVP_EncryptInit_ex(context, EVP_des_ede3_cbc(), nullptr, key.data(), iv) != 1 ||
        EVP_CIPHER_CTX_set_padding(context, 0) != 1 ||
        EVP_EncryptUpdate(context, data.data(), &written, data.data(), length) != 1 ||
        EVP_EncryptFinal_ex(context, data.data() + written, &finalWritten) != 1) {
      state.SkipWithError("OpenSSL encryption failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  EVP_CIPHER_CTX_free(context);
  state.SetBytesProcessed(state.iterations() * length);
}

void BM_OpenSslDesEde3CbcEncrypt(benchmark::State& state) {
  const long length = static_cast<long>(state.range(0));
  std::vector<unsigned char> key = randomBytes(24, 1);
  std::vector<unsigned char> data = randomBytes(static_cast<size_t>(length), 2);
  DES_key_schedule schedules[3];
  for (auto _ : state) {
    for (int i = 0; i < 3; ++i) {
      DES_set_key_unchecked(reinterpret_cast<DES_cblock*>(key.data() + 8 * i), &schedules[i]);
    }
    DES_cblock iv = {};
    DES_ede3_cbc_encrypt(data.data(), data.data(), length, &schedules[0], &schedules[1],
                         &schedules[2], &iv, DES_ENCRYPT);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * length);
}

BENCHMARK(BM_RSecPEncrypt)->Arg(kRecordPayload)->Arg(kLargestPayload);
BENCHMARK(BM_RSecPDecrypt)->Arg(kRecordPayload)->Arg(kLargestPayload);
BENCHMARK(BM_OpenSslEvpDesEde3Cbc)->Arg(kRecordPayload)->Arg(kLargestPayload);
BENCHMARK(BM_OpenSslDesEde3CbcEncrypt)->Arg(kRecordPayload)->Arg(kLargestPayload);

}  // namespace
