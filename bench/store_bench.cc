// A data file as it grew before writers compacted it: with 100 000
// superseded records of one key and a few live ones, reading a record is
// measured against the physical floor: reading the same file from start to
// end with plain read calls into a 64 KiB buffer. The first write compacts
// the file; the writes after it find the small one (see compaction_bench).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "securestore/rsecssfs.h"
#include "store_growth.h"

namespace {

const char* const kLiveKeys[] = {"ORQ/NEBRIX/TRACEFILENAME", "ORQ/NEBRIX/PROFILEFILENAME", "ORQ/NEBRIX/LAST"};

// One grown store per process, removed at exit.
const std::string& grownStore() {
  static const std::string directory = [] {
    char pattern[] = "/tmp/nebrix-store-bench-XXXXXX";
    std::string path = mkdtemp(pattern);
    nebrix_bench::putRecord(path, "ORQ/NEBRIX/TRACEFLAGS", "c:a:p2048");
    nebrix_bench::supersedeLastRecord(path, 100000);
    for (const char* key : kLiveKeys) nebrix_bench::putRecord(path, key, "/tmp/nebrix-%p.prt");
    std::atexit([] { std::system(("rm -rf " + grownStore()).c_str()); });
    return path;
  }();
  return directory;
}

void BM_PlainRead(benchmark::State& state) {
  const std::string file = grownStore() + "/SSFS_ORQ.DAT";
  std::vector<char> buffer(64 * 1024);
  int64_t bytes = 0;
  for (auto _ : state) {
    const int fd = open(file.c_str(), O_RDONLY);
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) bytes += n;
    close(fd);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);

void BM_GetRecord(benchmark::State& state) {
  MERO_RSecSSFsSetConfiguration("ORQ", grownStore().c_str(), grownStore().c_str());
  for (auto _ : state) {
    MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
    api->in_pKey = "ORQ/NEBRIX/LAST";
    MERO_RSecSSFsGetRecord(api);
    if (api->out_pProcessingInfo->rc != RSEC_SSFS_RC_OK) state.SkipWithError("GetRecord failed");
    MERO_RSecSSFsGetRecordAPIRelease(api);
  }
}
BENCHMARK(BM_GetRecord)->Unit(benchmark::kMillisecond);

void BM_PutRecord(benchmark::State& state) {
  for (auto _ : state) {
    if (!nebrix_bench::putRecord(grownStore(), "ORQ/NEBRIX/TRACEFLAGS", "c:a")) {
      state.SkipWithError("PutRecord failed");
    }
  }
}
BENCHMARK(BM_PutRecord)->Unit(benchmark::kMillisecond);

}  // namespace
