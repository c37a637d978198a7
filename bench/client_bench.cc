// The trace library's two costs a program pays, against references measured
// in the same run:
//
//   enabled check, nothing changing:
//     BM_Floor                  a relaxed atomic load of a shared 32-bit word,
//                               a compare with a cached value and a bit test
//     BM_FloorCalled            the same in a function of another shared
//                               library (client_bench_call.c)
//     BM_LttngTracepointEnabled lttng_ust_tracepoint_enabled() of an event no
//                               session enabled (NEBRIX_BENCH_LTTNG)
//     BM_NbxTraceEnabled        nbx_trace_enabled() of a category that is off
//   one formatted record with a time stamp, written to a file:
//     BM_NbxTracePrintf         nbx_trace_printf(NBX_TRACE_SQL, ...): one
//                               write(2) per record
//     BM_RecordFloor            the same line made by hand: the clock read,
//                               the stamp, "[tid] " and the text formatted,
//                               one write(2) to a file opened O_APPEND
//     BM_SpdlogBuffered         spdlog's basic_logger_mt, buffered (its
//                               default) (NEBRIX_BENCH_SPDLOG)
//     BM_SpdlogFlushed          the same, flushing every record
//
// The library is attached before anything is timed. The record benchmarks
// need SQL trace and time stamps on and a trace file outside the home (the
// spdlog files are written beside it): bench/client_bench.sh configures
// them through nebrix_cons in a private home and runs this program.
#include <fcntl.h>
#include <nebrix/trace.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include <benchmark/benchmark.h>

#ifdef NEBRIX_BENCH_LTTNG
#include "client_bench_tp.h"
#endif

#ifdef NEBRIX_BENCH_SPDLOG
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

namespace {

struct nbx_trace_settings g_settings = NBX_TRACE_SETTINGS_INIT;
bool g_recording = false;  // SQL trace and time stamps on, a trace file named

// The floor's shared word stands for the mapped update counter; the cached
// word for what the reader last published (count and category bits). Both
// are atomic, as the library's are: a plain cached word would let the
// compiler fold the compare and the bit test out of the loop, leaving a
// floor of one load.
std::atomic<std::uint32_t> g_sharedCount{42};
alignas(64) std::atomic<std::uint64_t> g_cachedWord{(std::uint64_t{42} << 32) | (1u << NBX_TRACE_SQL)};

void BM_Floor(benchmark::State& state) {
  for (auto _ : state) {
    const std::uint32_t count = g_sharedCount.load(std::memory_order_relaxed);
    const std::uint64_t cached = g_cachedWord.load(std::memory_order_relaxed);
    bool on = count == static_cast<std::uint32_t>(cached >> 32) && ((cached >> NBX_TRACE_SHORT) & 1u) != 0;
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_Floor)->Threads(1)->Threads(4);

extern "C" int client_bench_call_floor(int category);

void BM_FloorCalled(benchmark::State& state) {
  for (auto _ : state) {
    int on = client_bench_call_floor(NBX_TRACE_SHORT);
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_FloorCalled)->Threads(1)->Threads(4);

#ifdef NEBRIX_BENCH_LTTNG
void BM_LttngTracepointEnabled(benchmark::State& state) {
  for (auto _ : state) {
    bool on = lttng_ust_tracepoint_enabled(nebrix_bench, sql);
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_LttngTracepointEnabled)->Threads(1)->Threads(4);
#endif

void BM_NbxTraceEnabled(benchmark::State& state) {
  for (auto _ : state) {
    int on = nbx_trace_enabled(NBX_TRACE_SHORT);
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_NbxTraceEnabled)->Threads(1)->Threads(4);

// Every record benchmark starts on an empty file, so that none pays for the
// size another left behind.
// (The library's file does not exist before its first record.)
void emptyFile(const benchmark::State& state, const std::string& path) {
  if (state.thread_index() != 0) return;
  const int ignored = ::truncate(path.c_str(), 0);
  (void)ignored;
}

void BM_NbxTracePrintf(benchmark::State& state) {
  if (!g_recording) {
    state.SkipWithError("SQL trace with time stamps is not configured; run bench/client_bench.sh");
    return;
  }
  emptyFile(state, g_settings.trace_file);
  const int thread = state.thread_index();
  long query = 0;
  for (auto _ : state) {
    ++query;
    if (nbx_trace_printf(NBX_TRACE_SQL, "thread %d query %ld: SELECT name FROM customers WHERE id = %ld\n", thread,
                         query, query % 1000) != NBX_OK) {
      state.SkipWithError("nbx_trace_printf failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NbxTracePrintf)->Threads(1)->Threads(4)->UseRealTime();

std::string g_floorPath;
int g_floorDescriptor = -1;

// `value`'s last `width` decimal digits at `text`.
void putDigits(char* text, long value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) text[i] = static_cast<char>('0' + value % 10);
}

// The floor of a record: nothing but the work every record needs, done as
// cheaply as this program knows how (the stamp's digits put in by hand, the
// rest in one formatted print), each thread's id read once as the library
// reads it.
void BM_RecordFloor(benchmark::State& state) {
  if (g_floorDescriptor < 0) {
    state.SkipWithError("no trace file is configured to write beside; run bench/client_bench.sh");
    return;
  }
  emptyFile(state, g_floorPath);
  const int thread = state.thread_index();
  const long tid = ::syscall(SYS_gettid);
  long query = 0;
  char line[512] = "0000-00-00 00:00:00.000000 ";
  constexpr int kStamp = 27;
  for (auto _ : state) {
    ++query;
    struct timeval now;
    struct tm local;
    ::gettimeofday(&now, nullptr);
    ::localtime_r(&now.tv_sec, &local);
    putDigits(line, local.tm_year + 1900, 4);
    putDigits(line + 5, local.tm_mon + 1, 2);
    putDigits(line + 8, local.tm_mday, 2);
    putDigits(line + 11, local.tm_hour, 2);
    putDigits(line + 14, local.tm_min, 2);
    putDigits(line + 17, local.tm_sec, 2);
    putDigits(line + 20, now.tv_usec, 6);
    const int length = kStamp + std::snprintf(line + kStamp, sizeof line - kStamp,
                                              "[%ld] thread %d query %ld: SELECT name FROM customers WHERE id = %ld\n",
                                              tid, thread, query, query % 1000);
    if (::write(g_floorDescriptor, line, static_cast<std::size_t>(length)) != length) {
      state.SkipWithError("the floor's write failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordFloor)->Threads(1)->Threads(4)->UseRealTime();

#ifdef NEBRIX_BENCH_SPDLOG
std::shared_ptr<spdlog::logger> g_buffered;
std::shared_ptr<spdlog::logger> g_flushed;
std::string g_bufferedPath;
std::string g_flushedPath;

// The same line and the same time stamp as the library's records:
// "2026-12-07 10:31:45.123456 thread 0 query 1: ...".
std::shared_ptr<spdlog::logger> fileLogger(const std::string& name, const std::string& path, bool flushEach) {
  auto logger = spdlog::basic_logger_mt(name, path);
  logger->set_pattern("%Y-%m-%d %H:%M:%S.%f %v");
  logger->set_level(spdlog::level::trace);
  if (flushEach) logger->flush_on(spdlog::level::trace);
  return logger;
}

void runSpdlog(benchmark::State& state, spdlog::logger* logger, const std::string& path) {
  if (logger == nullptr) {
    state.SkipWithError("no trace file is configured to write beside; run bench/client_bench.sh");
    return;
  }
  emptyFile(state, path);
  const int thread = state.thread_index();
  long query = 0;
  for (auto _ : state) {
    ++query;
    logger->info("thread {} query {}: SELECT name FROM customers WHERE id = {}", thread, query, query % 1000);
  }
  logger->flush();
  state.SetItemsProcessed(state.iterations());
}

void BM_SpdlogBuffered(benchmark::State& state) { runSpdlog(state, g_buffered.get(), g_bufferedPath); }
BENCHMARK(BM_SpdlogBuffered)->Threads(1)->Threads(4)->UseRealTime();

void BM_SpdlogFlushed(benchmark::State& state) { runSpdlog(state, g_flushed.get(), g_flushedPath); }
BENCHMARK(BM_SpdlogFlushed)->Threads(1)->Threads(4)->UseRealTime();
#endif

void printDiagnostic(const char* text, void*) { std::fprintf(stderr, "nebrix_trace: %s\n", text); }

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  nbx_trace_set_diagnostic(printDiagnostic, nullptr);
  if (nbx_trace_open(nullptr) != NBX_OK || nbx_trace_get_settings(&g_settings) != NBX_OK) {
    std::fprintf(stderr, "client_bench: the trace library cannot attach\n");
    return 1;
  }
  g_recording = (g_settings.categories & (1u << NBX_TRACE_SQL)) != 0 && g_settings.time_stamp && g_settings.trace_file[0] == '/';
  if (!g_recording) {
    std::fprintf(stderr, "client_bench: SQL trace with time stamps is off (flags \"%s\"): records are not measured\n",
                 g_settings.flags);
  }
  std::string directory = g_settings.trace_file;
  if (g_recording) {
    directory.erase(directory.rfind('/') + 1);
    g_floorPath = directory + "floor.log";
    g_floorDescriptor = ::open(g_floorPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  }
#ifdef NEBRIX_BENCH_SPDLOG
  if (g_recording) {
    g_bufferedPath = directory + "spdlog-buffered.log";
    g_flushedPath = directory + "spdlog-flushed.log";
    g_buffered = fileLogger("buffered", g_bufferedPath, false);
    g_flushed = fileLogger("flushed", g_flushedPath, true);
  }
#endif
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  nbx_trace_close();
  return 0;
}
