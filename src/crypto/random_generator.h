// The process-wide pseudo-random generator that fills salts and padding.
//
// It keeps a 36-byte state and a pool of up to 256 32-bit entropy values.
// Each step outputs the MD5 of state bytes 0..31, then mixes a fresh timer
// reading in (alternately shifted into the state and appended to the pool)
// and replaces bytes 0..31 by the SHA-256 of all 36 bytes. The pool is folded
// into the state with SHA-256 once it holds 128 values. Initialisation fills
// the pool from the operating system's random source (getrandom(2)), which
// is the seed; the timer readings only stir the state between seeds. A
// process created by fork is seeded afresh at its first request, so that it
// never repeats its parent's bytes. When the system's source fails, the
// generator is not initialised and every request fails; there is no weaker
// seed to fall back to. New encryption keys do not come from here but
// straight from the system (crypto/system_random.h).
#pragma once

#include <cstddef>
#include <cstdint>

// Fills `length` bytes, 16 per step. Initialises the generator on first use.
// 0 on success; 1 when the generator is not initialised after the attempt
// (the system's random source failed; errno holds its error) or `buffer` is
// null while `length` is not 0; 2 when a step failed, in
// which case the bytes already written stay in the buffer.
int Rng_PseudoRandomConvenience(void* buffer, size_t length);

// (Re)initialises the generator with `strength` values from the system's
// random source (clamped to 40..256). Does nothing unless the strength rises
// above the current one (0 while uninitialised) or `force` is non-zero; when
// the source fails, the generator is left uninitialised (see
// Rng_GetDiagnostics), with the system error in errno. Returns the
// resolution of the timer in use, in ticks per second.
uint64_t Rng_PseudoRandomInit(unsigned int strength, int force);

// What the generator reports about itself, for diagnostics and tests.
struct RngDiagnostics {
  uint64_t steps;        // steps taken since the program started
  uint64_t poolUpdates;  // times the entropy pool was folded into the state
  uint32_t strength;     // 0 while uninitialised
  uint32_t poolCount;    // values waiting in the entropy pool
  int initialised;
  int nanosecondClockInUse;
  int defaultTimerInUse;
  uint64_t timerResolution;
};
void Rng_GetDiagnostics(RngDiagnostics* diagnostics);

// Failures are written to standard error from level 1 on; 0 (the default)
// writes nothing.
void Rng_SetDeveloperTraceLevel(int level);
