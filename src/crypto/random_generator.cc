#include "crypto/random_generator.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <pthread.h>

#include "crypto/hash_algorithm.h"
#include "crypto/high_resolution_timer.h"
#include "crypto/secure_wipe.h"
#include "crypto/system_random.h"

namespace {

constexpr unsigned kMinStrength = 40;
constexpr unsigned kMaxStrength = 256;
constexpr unsigned kPoolSize = 256;
// The pool is folded into the state at the first step that finds more
// readings than this in it.
constexpr unsigned kPoolFoldThreshold = 127;
constexpr size_t kStateSize = 36;
constexpr size_t kOutputSize = 16;

// Everything below `mutex` is guarded by it. Every member has an
// initialiser so that the generator is ready before any code runs.
struct Generator {
  std::mutex mutex;
  uint32_t pool[kPoolSize] = {};
  unsigned poolCount = 0;
  // Bytes 0..31 are the pool output is drawn from; 32..35 hold the four
  // bytes the last shift pushed out.
  uint8_t state[kStateSize] = {};
  bool initialised = false;
  unsigned strength = 128;
  int toggle = 0;
  bool timerChosen = false;
  HighResolutionTimer timer;
};
Generator g;

std::atomic<uint64_t> g_steps{0};
std::atomic<uint64_t> g_poolUpdates{0};
std::atomic<int> g_traceLevel{0};

// The 16 bytes one step returns.
struct OctetString {
  size_t noctets;
  uint8_t octets[kOutputSize];
};

__attribute__((format(printf, 1, 2))) void developerTrace(const char* format, ...) {
  if (g_traceLevel.load(std::memory_order_relaxed) < 1) return;
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
}

// Refills the pool from scratch with `strength` values from the system's
// random source. False with the system error in errno when it fails; the
// pool is then empty.
bool fillEntropyPool(unsigned strength) {
  secureWipe(g.pool, sizeof g.pool);
  g.poolCount = 0;
  const int error = systemRandomBytes(g.pool, strength * sizeof g.pool[0]);
  if (error != 0) {
    secureWipe(g.pool, sizeof g.pool);
    developerTrace("%.64s() getrandom failed: %s\n", "fillEntropyPool", strerror(error));
    errno = error;
    return false;
  }
  g.strength = strength;
  g.poolCount = strength;
  return true;
}

// Folds the pool into the state: its SHA-256 is XORed into state bytes
// 0..31, then the pool is emptied. On a hash failure both stay as they are.
int iRng_CompleteUpdate() {
  haxx_CTX ctx;
  const int rc = haHashAll(&ctx, g.pool, g.poolCount * sizeof g.pool[0], HA_ALG_SHA256, 0, 0);
  if (rc != HA_SUCCESS) {
    developerTrace("%.64s() Hash-error in function: 'haHashAll'.\n", "iRng_CompleteUpdate");
    secureWipe(&ctx, sizeof ctx);
    return rc;
  }
  for (size_t i = 0; i < 32; ++i) g.state[i] ^= ctx.digest[i];
  secureWipe(&ctx, sizeof ctx);
  if (g.poolCount > g.strength) g.strength = g.poolCount;
  secureWipe(g.pool, sizeof g.pool);
  g.poolCount = 0;
  g_poolUpdates.fetch_add(1, std::memory_order_relaxed);
  return HA_SUCCESS;
}

// One step; the caller holds the mutex. 0 with 16 bytes in `out`, or 2 with
// none.
int iRng_RandomStep(OctetString* out) {
  out->noctets = 0;
  g_steps.fetch_add(1, std::memory_order_relaxed);
  if (g.poolCount > kPoolFoldThreshold) iRng_CompleteUpdate();

  haxx_CTX ctx;
  int rc = haHashAll(&ctx, g.state, 32, HA_ALG_MD5, 0, 0);
  if (rc != HA_SUCCESS) {
    developerTrace("%.64s() : MD5 hash alg. returned with returncode: %d\n", "iRng_RandomStep", rc);
    secureWipe(&ctx, sizeof ctx);
    return 2;
  }
  memcpy(out->octets, ctx.digest, kOutputSize);
  out->noctets = kOutputSize;

  const uint32_t reading = hrtRead(g.timer);
  if (g.toggle == 0) {
    memmove(g.state + 4, g.state, 32);
    memcpy(g.state, &reading, sizeof reading);
  } else if (g.poolCount < kPoolSize) {
    g.pool[g.poolCount++] = reading;
  }
  g.toggle ^= 1;

  rc = haHashAll(&ctx, g.state, kStateSize, HA_ALG_SHA256, 0, 0);
  if (rc != HA_SUCCESS) {
    developerTrace("%.64s() : SHA-256 hash alg. returned with returncode: %d\n", "iRng_RandomStep", rc);
    g.initialised = false;
    secureWipe(&ctx, sizeof ctx);
    secureWipe(out, sizeof *out);
    return 2;
  }
  memcpy(g.state, ctx.digest, 32);
  secureWipe(&ctx, sizeof ctx);
  return 0;
}

// A forked child starts with its parent's state and would repeat the
// parent's next bytes (salts, padding); it is seeded afresh at its first
// request. The mutex is held across fork so that the child gets it unlocked.
void lockForFork() { g.mutex.lock(); }
void unlockInParent() { g.mutex.unlock(); }
void reseedInChild() {
  g.initialised = false;
  g.mutex.unlock();
}

}  // namespace

uint64_t Rng_PseudoRandomInit(unsigned int strength, int force) {
  if (strength < kMinStrength) strength = kMinStrength;
  if (strength > kMaxStrength) strength = kMaxStrength;
  std::lock_guard<std::mutex> lock(g.mutex);
  const unsigned current = g.initialised ? g.strength : 0;
  if (strength <= current && !force) return g.timer.resolution;
  if (!g.timerChosen) {
    hrtSelectTimer(&g.timer);
    pthread_atfork(lockForFork, unlockInParent, reseedInChild);
    g.timerChosen = true;
  }
  // Without a seed from the system the generator stays (or becomes)
  // uninitialised, and every request fails until a seed can be had.
  g.initialised = fillEntropyPool(strength) && iRng_CompleteUpdate() == HA_SUCCESS;
  return g.timer.resolution;
}

int Rng_PseudoRandomConvenience(void* buffer, size_t length) {
  Rng_PseudoRandomInit(128, 0);
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    if (!g.initialised) {
      developerTrace("%.64s() The Pseudo-RNG was not initialized.\n", "Rng_PseudoRandomConvenience");
      return 1;
    }
  }
  if (length == 0) return 0;
  if (buffer == nullptr) return 1;

  uint8_t* out = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    OctetString block;
    int rc;
    {
      std::lock_guard<std::mutex> lock(g.mutex);
      rc = iRng_RandomStep(&block);
    }
    if (rc != 0 || block.noctets == 0) {
      developerTrace("%.64s() Error in function: 'iRng_RandomStep'.\n", "Rng_PseudoRandomConvenience");
      secureWipe(&block, sizeof block);
      return 2;
    }
    const size_t n = length < block.noctets ? length : block.noctets;
    memcpy(out, block.octets, n);
    out += n;
    length -= n;
    secureWipe(&block, sizeof block);
  }
  return 0;
}

void Rng_GetDiagnostics(RngDiagnostics* diagnostics) {
  if (diagnostics == nullptr) return;
  std::lock_guard<std::mutex> lock(g.mutex);
  diagnostics->steps = g_steps.load(std::memory_order_relaxed);
  diagnostics->poolUpdates = g_poolUpdates.load(std::memory_order_relaxed);
  diagnostics->strength = g.initialised ? g.strength : 0;
  diagnostics->poolCount = g.poolCount;
  diagnostics->initialised = g.initialised ? 1 : 0;
  diagnostics->nanosecondClockInUse = g.timer.nanosecondClockInUse ? 1 : 0;
  diagnostics->defaultTimerInUse = g.timer.defaultTimerInUse ? 1 : 0;
  diagnostics->timerResolution = g.timer.resolution;
}

void Rng_SetDeveloperTraceLevel(int level) { g_traceLevel.store(level, std::memory_order_relaxed); }
