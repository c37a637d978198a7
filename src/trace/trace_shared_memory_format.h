// The layout of the trace shared-memory file and the rules for reading its
// words, shared by the console that writes it (trace_shared_memory_writer.cc)
// and the client processes that read it (trace_shared_memory_reader.cc).
//
// The file is a shared memory image, not an exchange format: integers are
// 32-bit in the machine's byte order, and a new file is 26656 zero bytes.
//
//   offset  size  header
//        0     4  updateCount   signed; bumped by a writer after every change
//        4     4  totalSize     26656 once initialized
//        8     4  version       1 once initialized; anything else: not yet
//       12     4  globalReRead  1: with every update, clients also re-read the
//                               persistent configuration (always 1)
//       16     4  initialized   1 once initialized
//       20     4  spinLock      0/1 lock word for clients; the console never
//                               touches it
//       24   232  reserved      zero
//      256 100 x 264  parts; part i starts at 256 + i * 264
//
//   offset  size  part
//        0     4  processID  owning process; 0 = free
//        4     4  readCount  the updateCount its process last acknowledged
//        8   256  flags      trace flags string (see trace_flags.h), NUL-
//                            terminated, at most 255 characters
//
// Change protocol. A writer stores flags into one part (or into none) and
// then increments updateCount with a compare-and-swap loop on the mapped
// word; the counter wraps as a signed 32-bit number and is never reset. A
// client compares its last acknowledged count with updateCount (any
// difference counts), re-reads the flags of its own part and, with
// globalReRead set, the persistent configuration, and then acknowledges by
// storing updateCount into its part's readCount. The flags "R"
// (kFollowConfiguration) mean "follow the configuration": the console writes
// them to hand a process back to the persistent settings.
//
// Every byte may have been written by someone else: flags are never read
// past their field, and a negative processID names no process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "trace/process_information.h"

namespace NEBRIX {

struct TraceSharedMemoryFormat {
  using ProcessID = System::ProcessID;

  static constexpr std::int32_t HEADER_SIZE = 256;
  static constexpr std::int32_t NUM_PARTS = 100;
  static constexpr std::int32_t FLAGS_SIZE = 256;  // terminating NUL included
  static constexpr std::int32_t MAX_FLAGS_LENGTH = FLAGS_SIZE - 1;
  static constexpr std::int32_t VERSION = 1;

  struct Header {
    std::int32_t updateCount;
    std::int32_t totalSize;
    std::int32_t version;
    std::int32_t globalReRead;
    std::int32_t initialized;
    std::int32_t spinLock;
    char reserved[HEADER_SIZE - 6 * sizeof(std::int32_t)];
  };

  struct Part {
    ProcessID processID;
    std::int32_t readCount;
    char flags[FLAGS_SIZE];  // may lack a NUL if someone else wrote it
  };

  static constexpr std::size_t PART_SIZE = 264;
  static constexpr std::size_t TOTAL_SIZE = HEADER_SIZE + NUM_PARTS * PART_SIZE;

  // The mapped words are shared with other processes; every access to them
  // is atomic so that no reader sees a torn value and no compiler caches one.
  static std::int32_t loadWord(const std::int32_t& word) { return __atomic_load_n(&word, __ATOMIC_ACQUIRE); }
  static void storeWord(std::int32_t& word, std::int32_t value) { __atomic_store_n(&word, value, __ATOMIC_RELEASE); }
  static bool swapWord(std::int32_t& word, std::int32_t& expected, std::int32_t desired) {
    return __atomic_compare_exchange_n(&word, &expected, desired, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
  }
};

static_assert(sizeof(TraceSharedMemoryFormat::Header) == TraceSharedMemoryFormat::HEADER_SIZE, "header size");
static_assert(offsetof(TraceSharedMemoryFormat::Header, updateCount) == 0, "updateCount offset");
static_assert(offsetof(TraceSharedMemoryFormat::Header, totalSize) == 4, "totalSize offset");
static_assert(offsetof(TraceSharedMemoryFormat::Header, version) == 8, "version offset");
static_assert(offsetof(TraceSharedMemoryFormat::Header, globalReRead) == 12, "globalReRead offset");
static_assert(offsetof(TraceSharedMemoryFormat::Header, initialized) == 16, "initialized offset");
static_assert(offsetof(TraceSharedMemoryFormat::Header, spinLock) == 20, "spinLock offset");
static_assert(sizeof(TraceSharedMemoryFormat::Part) == TraceSharedMemoryFormat::PART_SIZE, "part size");
static_assert(offsetof(TraceSharedMemoryFormat::Part, processID) == 0, "processID offset");
static_assert(offsetof(TraceSharedMemoryFormat::Part, readCount) == 4, "readCount offset");
static_assert(offsetof(TraceSharedMemoryFormat::Part, flags) == 8, "flags offset");
static_assert(TraceSharedMemoryFormat::TOTAL_SIZE == 26656, "file size");

// The flags of a part that hands its process back to the configuration.
constexpr const char* kFollowConfiguration = "R";

// The fields of a part, read as another process may be writing them. The
// flags are taken up to their NUL or FLAGS_SIZE - 1 characters, whichever
// comes first.
inline std::int32_t partProcessID(const TraceSharedMemoryFormat::Part& part) {
  return TraceSharedMemoryFormat::loadWord(part.processID);
}
inline std::int32_t partReadCount(const TraceSharedMemoryFormat::Part& part) {
  return TraceSharedMemoryFormat::loadWord(part.readCount);
}
inline std::string partFlags(const TraceSharedMemoryFormat::Part& part) {
  return std::string(part.flags, ::strnlen(part.flags, TraceSharedMemoryFormat::MAX_FLAGS_LENGTH));
}

// The first of the NUM_PARTS `parts` that names `pid`: the one its process
// reads when an id stands in two parts. Null when there is none or no parts.
inline TraceSharedMemoryFormat::Part* findPart(TraceSharedMemoryFormat::Part* parts, System::ProcessID pid) {
  for (int i = 0; parts != nullptr && i < TraceSharedMemoryFormat::NUM_PARTS; ++i) {
    if (partProcessID(parts[i]) == pid) return &parts[i];
  }
  return nullptr;
}
inline const TraceSharedMemoryFormat::Part* findPart(const TraceSharedMemoryFormat::Part* parts,
                                                     System::ProcessID pid) {
  return findPart(const_cast<TraceSharedMemoryFormat::Part*>(parts), pid);
}

// How far update count `count` is ahead of `base` (negative: behind). The
// counter wraps, so only the difference taken modulo 2^32 means anything;
// the arithmetic is unsigned, so no signed overflow happens.
inline std::int32_t countsAhead(std::int32_t count, std::int32_t base) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(count) - static_cast<std::uint32_t>(base));
}

// Whether `count` is the update count `target` or one made since, up to the
// `current` one: a count beyond what has been counted (one left from before
// the counter was reset) proves nothing.
inline bool countReached(std::int32_t count, std::int32_t target, std::int32_t current) {
  return static_cast<std::uint32_t>(countsAhead(count, target)) <=
         static_cast<std::uint32_t>(countsAhead(current, target));
}

}  // namespace NEBRIX
