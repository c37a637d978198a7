// What compaction costs a writer, and the floor of a durable change.
//
//   compaction_bench changes [N]  N changes of one key through the store's API
//       (default 100000) on a store that compacts itself, side by side with the
//       same changes on a store compacted for free: after each of its changes,
//       outside the timing, its data file is cut back to the one active record.
//       Prints the mean and the slowest change of both and the ratio of the means.
//   compaction_bench legacy [N]   a store that grew to N superseded records
//       (default 1000000) before writers compacted: its first change scans and
//       compacts the whole file; the one after it finds the small file.
//   compaction_bench append FILE  appends one 177-byte record to FILE and syncs
//       it with fdatasync, the one flush a change needs: as a process of its own,
//       the floor of every command that changes the store.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "store_growth.h"

namespace {

const char kKey[] = "ORQ/NEBRIX/TRACEFLAGS";

using Clock = std::chrono::steady_clock;

struct Series {
  double total = 0;
  double slowest = 0;
  void add(double seconds) {
    total += seconds;
    slowest = std::max(slowest, seconds);
  }
};

std::string makeStore() {
  char pattern[] = "/tmp/nebrix-compaction-bench-XXXXXX";
  return mkdtemp(pattern);
}

std::string dataFile(const std::string& store) { return store + "/SSFS_ORQ.DAT"; }

long fileSize(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? static_cast<long>(status.st_size) : -1;
}

double timedChange(const std::string& store, long i) {
  const auto start = Clock::now();
  if (!nebrix_bench::putRecord(store, kKey, i % 2 == 0 ? "c:a" : "c:b")) {
    std::fprintf(stderr, "compaction_bench: a change failed in %s\n", store.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The data file of one key after a change: the deleted record, then the
// active one. What a free compaction would leave: the active one alone.
void compactForFree(const std::string& store) {
  const int fd = open(dataFile(store).c_str(), O_RDWR);
  const long half = fileSize(dataFile(store)) / 2;
  std::vector<char> record(static_cast<size_t>(half));
  const bool done = fd >= 0 && pread(fd, record.data(), record.size(), half) == half &&
                    pwrite(fd, record.data(), record.size(), 0) == half && ftruncate(fd, half) == 0;
  if (fd >= 0) close(fd);
  if (!done) {
    std::fprintf(stderr, "compaction_bench: cannot cut back %s\n", store.c_str());
    std::exit(1);
  }
}

void print(const char* label, const Series& series, long count) {
  std::printf("%-34s mean %8.1f us   slowest %8.1f us\n", label, series.total / count * 1e6, series.slowest * 1e6);
}

int changes(long count) {
  const std::string compacting = makeStore(), reference = makeStore();
  Series own, free, compactions;
  nebrix_bench::putRecord(compacting, kKey, "c:a");
  nebrix_bench::putRecord(reference, kKey, "c:a");
  long largest = 0, compactionCount = 0;
  for (long i = 0; i < count; ++i) {
    const long before = fileSize(dataFile(compacting));
    const double seconds = timedChange(compacting, i);
    own.add(seconds);
    if (fileSize(dataFile(compacting)) < before) {
      compactions.add(seconds);
      ++compactionCount;
    }
    largest = std::max(largest, before);
    free.add(timedChange(reference, i));
    compactForFree(reference);
  }
  std::printf("%ld changes of one key, side by side:\n", count);
  print("compacting itself", own, count);
  print("compacted for free", free, count);
  if (compactionCount > 0) print("the changes that compacted", compactions, compactionCount);
  std::printf("ratio of the means: %.3f; %ld compactions; largest data file %ld bytes\n", own.total / free.total,
              compactionCount, largest);
  std::system(("rm -rf " + compacting + " " + reference).c_str());
  return 0;
}

int legacy(long count) {
  const std::string store = makeStore();
  if (!nebrix_bench::putRecord(store, kKey, "c:a") || !nebrix_bench::supersedeLastRecord(store, count)) return 1;
  const long before = fileSize(dataFile(store));
  // On disk, as after a long time of use: the change must not pay for writing out the grown file.
  const int fd = open(dataFile(store).c_str(), O_RDONLY);
  if (fd < 0 || fsync(fd) != 0) return 1;
  close(fd);
  const double first = timedChange(store, 1);
  const long after = fileSize(dataFile(store));
  const double next = timedChange(store, 2);
  std::printf("%ld superseded records, %ld bytes: first change %.1f ms, leaving %ld bytes; next change %.3f ms\n",
              count, before, first * 1e3, after, next * 1e3);
  std::system(("rm -rf " + store).c_str());
  return 0;
}

int append(const char* path) {
  static const char record[177] = "RSecSSFsData";
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || write(fd, record, sizeof record) != sizeof record || fdatasync(fd) != 0) return 1;
  return close(fd) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "changes") return changes(argc > 2 ? std::atol(argv[2]) : 100000);
  if (mode == "legacy") return legacy(argc > 2 ? std::atol(argv[2]) : 1000000);
  if (mode == "append" && argc == 3) return append(argv[2]);
  std::fprintf(stderr, "Usage: compaction_bench changes [N] | legacy [N] | append FILE\n");
  return 2;
}
