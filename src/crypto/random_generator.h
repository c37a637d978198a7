// The process-wide pseudo-random generator that fills salts and padding.
//
// It keeps a 36-byte state and a pool of up to 256 timer readings. Each step
// outputs the MD5 of state bytes 0..31, then mixes a fresh timer reading in
// (alternately shifted into the state and appended to the pool) and replaces
// bytes 0..31 by the SHA-256 of all 36 bytes. The pool is folded into the
// state with SHA-256 once it holds 128 readings. Initialisation fills the
// pool with readings taken at 10 ms boundaries of consumed CPU time, so the
// first request costs up to about 0.64 s of CPU time.
#pragma once

#include <cstddef>
#include <cstdint>

// Fills `length` bytes, 16 per step. Initialises the generator on first use.
// 0 on success; 1 when the generator is not initialised after the attempt
// (or `buffer` is null while `length` is not 0); 2 when a step failed, in
// which case the bytes already written stay in the buffer.
int Rng_PseudoRandomConvenience(void* buffer, size_t length);

// (Re)initialises the generator with `strength` timer readings (clamped to
// 40..256). Does nothing unless the strength rises above the current one
// (0 while uninitialised) or `force` is non-zero. Returns the resolution of
// the timer in use, in ticks per second.
uint64_t Rng_PseudoRandomInit(unsigned int strength, int force);

// What the generator reports about itself, for diagnostics and tests.
struct RngDiagnostics {
  uint64_t steps;        // steps taken since the program started
  uint64_t poolUpdates;  // times the entropy pool was folded into the state
  uint32_t strength;     // 0 while uninitialised
  uint32_t poolCount;    // readings waiting in the entropy pool
  int initialised;
  int nanosecondClockInUse;
  int defaultTimerInUse;
  uint64_t timerResolution;
};
void Rng_GetDiagnostics(RngDiagnostics* diagnostics);

// Failures are written to standard error from level 1 on; 0 (the default)
// writes nothing.
void Rng_SetDeveloperTraceLevel(int level);
