// The client library against the real console: settings that follow its
// changes, the trace file's limits, stop on error, fork, a hostile
// shared-memory file and many threads at once.
#include <gtest/gtest.h>
#include <nebrix/trace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <malloc.h>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "private_home.h"
#include "program_runner.h"

namespace nebrix_test {
namespace {

const std::string kPid = std::to_string(getpid());

// It calls into the library, as a callback may.
void countChange(void* context) {
  ++*static_cast<int*>(context);
  nbx_trace_open(nullptr);
  nbx_trace_error(0);
}
std::string g_lastDiagnostic;
void countDiagnostic(const char* text, void* context) {
  ++*static_cast<int*>(context);
  g_lastDiagnostic = text;
}

class TraceLibrary : public testing::Test {
 protected:
  void SetUp() override {
    removeTree(privateHomeDirectory() + "/.orq");
    traceFile = privateHomeDirectory() + "/trace.prt";
    removeWithOlder(traceFile);
    console({"CONFIG", "TRACE", "FILENAME", traceFile});
    nbx_trace_set_diagnostic(countDiagnostic, &diagnostics);
  }
  void TearDown() override {
    nbx_trace_close();
    nbx_trace_set_diagnostic(nullptr, nullptr);
    nbx_trace_on_change(nullptr, nullptr);
  }
  static void console(const std::vector<std::string>& args) {
    const ProgramResult r = runConsole(args);
    ASSERT_EQ(r.status, 0) << testing::PrintToString(args) << r.err;
  }
  static void consoles(std::initializer_list<std::vector<std::string>> commands) {
    for (const std::vector<std::string>& args : commands) console(args);
  }
  static void removeWithOlder(const std::string& path) { ::unlink(path.c_str()), ::unlink((path + ".1").c_str()); }
  static std::string shmPath() { return privateProfileDirectory() + "/NEBRIX.shm"; }
  static std::int32_t shmWord(std::size_t offset) {
    const std::string bytes = readFile(shmPath());
    std::int32_t word = 0;
    if (bytes.size() >= offset + 4) std::memcpy(&word, bytes.data() + offset, 4);
    return word;
  }
  // The readCount of the part of `pid`, -1 when it has none.
  static std::int32_t readCountOf(pid_t pid) {
    for (std::size_t part = 256; part < 26656; part += 264)
      if (shmWord(part) == pid) return shmWord(part + 4);
    return -1;
  }
  // The exit status of a child, -1 when it did not exit.
  static int exitStatus(pid_t child) {
    int status = -1;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static bool isGzip(const std::string& path) { return readFile(path).compare(0, 2, "\x1f\x8b") == 0; }
  // The records of a trace file as gzip readers give them back (a text file
  // as it is), without the writer's ids and the lines that say who writes
  // (or all lines as they are, with `raw`); `whole`: it ended where a gzip
  // stream may end, not cut short.
  static std::vector<std::string> lines(const std::string& path, bool* whole = nullptr, bool raw = false) {
    std::string text;
    gzFile file = gzopen(path.c_str(), "rb");
    char buffer[4096];
    for (int n; file != nullptr && (n = gzread(file, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    const bool ended = file != nullptr && gzclose(file) == Z_OK;
    if (whole != nullptr) *whole = ended;
    std::vector<std::string> result;
    std::istringstream in(text);
    const std::regex ids(R"(^((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} )?)\[\d+(:\d+)?\] )");
    for (std::string line; std::getline(in, line);) {
      if (!raw) line = std::regex_replace(line, ids, "$1", std::regex_constants::format_first_only);
      if (raw || line.find("=== ") == std::string::npos) result.push_back(line);
    }
    return result;
  }

  std::string traceFile;
  int diagnostics = 0;
};

TEST_F(TraceLibrary, EnabledFollowsTheConsole) {
  int changes = 0;
  nbx_trace_on_change(countChange, &changes);
  ASSERT_EQ(nbx_trace_open(nullptr), NBX_OK);
  struct Step { std::vector<std::string> args; int short_, api, sql, own; } steps[] = {
      {{"TRACE", "SQL", "ON"}, 0, 0, 1, 0},
      {{"-p", kPid, "TRACE", "API", "ON"}, 0, 1, 1, 1},  // starting from the configuration
      {{"TRACE", "SHORT", "ON"}, 0, 1, 1, 1},            // own settings stay
      {{"-p", kPid, "TRACE", "REFRESH"}, 1, 0, 1, 0},
      {{"TRACE", "OFF"}, 0, 0, 0, 0},
  };
  int expectedChanges = 0;
  for (const Step& step : steps) {
    const std::string line = testing::PrintToString(step.args);
    console(step.args);
    EXPECT_EQ(nbx_trace_enabled(NBX_TRACE_SHORT), step.short_) << line;
    EXPECT_EQ(nbx_trace_enabled(NBX_TRACE_API), step.api) << line;
    EXPECT_EQ(nbx_trace_enabled(NBX_TRACE_SQL), step.sql) << line;
    struct nbx_trace_settings settings = NBX_TRACE_SETTINGS_INIT;
    ASSERT_EQ(nbx_trace_get_settings(&settings), NBX_OK);
    EXPECT_EQ(settings.own_settings, step.own) << line;
    EXPECT_EQ(settings.trace_file, traceFile);
    EXPECT_EQ(nbx_trace_update_count(), shmWord(0)) << line;
    if (readCountOf(getpid()) != -1) { EXPECT_EQ(readCountOf(getpid()), shmWord(0)) << line; }
    EXPECT_EQ(changes, ++expectedChanges) << line;
  }
  EXPECT_EQ(nbx_trace_enabled(-1) + nbx_trace_enabled(6), 0);
  EXPECT_EQ(diagnostics, 0);

  // The settings fill what the caller's size holds: an older struct keeps what lies beyond, a newer one gets
  // its end zeroed; a path that does not fit is left empty and said.
  struct { size_t size; unsigned categories; long beyond; } older = {offsetof(nbx_trace_settings, packet_size_limit), ~0u, 42};
  EXPECT_TRUE(nbx_trace_get_settings(reinterpret_cast<nbx_trace_settings*>(&older)) == NBX_OK && older.categories == 0 &&
              older.beyond == 42 && older.size == offsetof(nbx_trace_settings, packet_size_limit));
  struct { nbx_trace_settings known; char more[8]; } newer;
  std::memset(&newer, 'x', sizeof newer), newer.known.size = sizeof newer;
  EXPECT_TRUE(nbx_trace_get_settings(&newer.known) == NBX_OK && std::string(newer.more, 8) == std::string(8, '\0'));
  newer.known.size = sizeof newer.known.size - 1;
  EXPECT_TRUE(nbx_trace_get_settings(&newer.known) == NBX_ERROR_ARGUMENT && nbx_trace_get_settings(nullptr) == NBX_ERROR_ARGUMENT);
  consoles({{"CONFIG", "TRACE", "FILENAME", std::string(1020, 'x')}, {"TRACE", "REFRESH"}});
  nbx_trace_settings settings{NBX_TRACE_SETTINGS_INIT};
  EXPECT_TRUE(nbx_trace_get_settings(&settings) == NBX_ERROR_TOO_LONG && settings.trace_file[0] == '\0' && settings.size == sizeof settings);
  std::set<std::string> texts;
  for (int code = NBX_ERROR_TOO_LONG - 1; code <= NBX_OK + 1; ++code) texts.insert(nbx_strerror(code));
  EXPECT_TRUE(texts.size() == 8 && std::string(nbx_strerror(1)) == "unknown result" && nbx_version_number() == NBX_VERSION_NUMBER);

  // A component is a name, never a path: refused before anything is made or replaced.
  nbx_trace_close();
  const std::string root = privateHomeDirectory() + "/..", longest(42, 'A'), tooLong = longest + "A";
  mkdir((root + "/outside").c_str(), 0700);
  writeFile(root + "/outside/victim.shm", "kept");
  const auto entries = [&] { return std::distance(std::filesystem::recursive_directory_iterator(root), {}); };
  const auto before = entries();
  for (const char* bad : {"../../../outside/victim", "/abs", "a/b", ".", "..", "", "a.b", "a b", tooLong.c_str()})
    EXPECT_EQ(nbx_trace_open(bad), NBX_ERROR_ARGUMENT) << bad;
  EXPECT_EQ(entries(), before);
  EXPECT_EQ(readFile(root + "/outside/victim.shm"), "kept");
  EXPECT_EQ(nbx_trace_open(longest.c_str()), NBX_OK);
}

// Compressed, the limit counts the bytes on disk, and the older file is
// ended as a whole gzip stream before it is moved. Two processes of seven
// threads each share a file too: one that moved it looks at the new file
// again, which the other may have filled or moved on meanwhile.
TEST_F(TraceLibrary, TheSizeLimitIsNeverPassed) {
  // Compressed with %p: one gzip member per file; else one per record.
  const struct { std::string name; bool compressed; int processes, threads; } cases[] = {
      {"/plain.prt", false, 1, 1}, {"/shared.prt", true, 1, 1}, {"/own-%p.prt", true, 1, 1},
      {"/plain.prt", false, 2, 7}, {"/shared.prt", true, 2, 7}};
  for (const auto& c : cases) {
    traceFile = std::regex_replace(privateHomeDirectory() + c.name, std::regex("%p"), kPid);
    removeWithOlder(traceFile);
    consoles({{"CONFIG", "TRACE", "FILENAME", privateHomeDirectory() + c.name},
              {"CONFIG", "TRACE", "COMPRESS", c.compressed ? "ON" : "OFF"},
              {"TRACE", "SIZE", "8192"}, {"TRACE", "TIMESTAMP", "ON"}, {"TRACE", "SQL", "ON"}});
    const std::string payload(100, 'x');
    const int records = 2800 / (c.processes * c.threads);
    const pid_t child = c.processes > 1 ? fork() : -1;
    std::atomic<int> failed{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < c.threads; ++t) {
      writers.emplace_back([&, t] {
        for (int i = 0; i < records; ++i)
          failed += nbx_trace_printf(NBX_TRACE_SQL, "record %d.%d %d %s", child == 0, t, i, payload.c_str()) != NBX_OK;
      });
    }
    // Every file moved away meanwhile is looked at, not only the last.
    std::atomic<bool> done{child == 0};
    off_t largest = 0;
    std::thread watcher([&] {
      for (struct stat moved; !done;)
        if (stat((traceFile + ".1").c_str(), &moved) == 0) largest = std::max(largest, moved.st_size);
    });
    for (std::thread& writer : writers) writer.join();
    done = true;
    watcher.join();
    nbx_trace_close();
    if (child == 0) _exit(failed);
    EXPECT_EQ(failed + (child > 0 ? exitStatus(child) : 0), 0);
    EXPECT_LE(largest, 8192);
    const std::regex record(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} record (\d\.\d+) (\d+) x{100})");
    std::map<std::string, int> next;  // of each writer
    // The newest records are in the file, the ones before in <file>.1, with
    // none lost at the change and none older kept.
    for (const std::string& path : {traceFile, traceFile + ".1"}) {
      EXPECT_EQ(fileMode(path), 0600) << path;
      EXPECT_LE(readFile(path).size(), 8192u) << path;
      EXPECT_EQ(isGzip(path), c.compressed) << path;
      bool whole = false;
      const std::vector<std::string> found = lines(path, &whole);
      EXPECT_TRUE(whole) << path;
      for (auto line = found.rbegin(); line != found.rend(); ++line) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(*line, match, record)) << *line;
        EXPECT_EQ(std::stoi(match[2]), --next.emplace(match[1], records).first->second) << *line;
      }
    }
    EXPECT_FALSE(std::ifstream(traceFile + ".2").good());
  }
}

TEST_F(TraceLibrary, TracingStopsAfterTheErrorsAskedFor) {
  struct { std::vector<std::string> stop; int count; std::string lastLine; } cases[] = {
      {{"TRACE", "STOP", "ON", "ERROR", "5"}, 1, "Trace stopped: error 5 happened 1 time"},
      {{"TRACE", "STOP", "ON", "ERROR", "-10", "COUNT", "3"}, 3, "Trace stopped: error -10 happened 3 times"},
  };
  console({"TRACE", "SQL", "ON"});
  for (const auto& c : cases) {
    const int code = c.count == 1 ? 5 : -10;
    console(c.stop);
    ::unlink(traceFile.c_str());
    EXPECT_EQ(nbx_trace_error(code + 1), NBX_OK);  // another error counts for nothing
    for (int i = 1; i < c.count; ++i) nbx_trace_error(code);
    EXPECT_EQ(nbx_trace_enabled(NBX_TRACE_SQL), 1);
    EXPECT_EQ(nbx_trace_error(code), NBX_OK);
    EXPECT_EQ(nbx_trace_enabled(NBX_TRACE_SQL), 0);
    EXPECT_EQ(lines(traceFile), std::vector<std::string>{c.lastLine});
    nbx_trace_error(code);  // no second last line
    EXPECT_EQ(lines(traceFile).size(), 1u);
  }
  console({"TRACE", "SHORT", "ON"});  // any change starts again
  EXPECT_EQ(nbx_trace_enabled(NBX_TRACE_SQL), 1);
}

// The child of a fork has no part and never answers for its parent, whose
// part still shows the change it has not read yet; also a child made without
// the atfork handlers. Threads sit in every call while the process forks: the
// child finds every lock of the library free, and its first calls return.
TEST_F(TraceLibrary, AForkedChildDoesNotAcknowledgeForItsParent) {
  consoles({{"PROFILE", "FILENAME", privateHomeDirectory() + "/profile-%p.prt"}, {"PROFILE", "COLLECT", "ON"}});
  static int sink = 0;
  static void (*const calls[])() = {
      [] { nbx_trace_set_diagnostic(countDiagnostic, &sink); }, [] { nbx_trace_on_change(countChange, &sink); },
      [] { nbx_trace_printf(NBX_TRACE_SQL, "record"); },        [] { nbx_profile_add("calls", 1); },
      [] {
        struct nbx_trace_settings settings = NBX_TRACE_SETTINGS_INIT;
        nbx_trace_get_settings(&settings);
      },
      [] { nbx_trace_open(nullptr); },                          [] { nbx_trace_error(1); },
  };
  // ThreadSanitizer's own allocator lock may be held by another thread at a fork.
#if defined(__SANITIZE_THREAD__)
  const bool threads = false;
#else
  const bool threads = true;
#endif
  for (auto [makeChild, threaded] : {std::pair{fork, false}, std::pair{_Fork, false}, std::pair{fork, threads}}) {
    console({"-p", kPid, "TRACE", "SQL", "ON"});
    ASSERT_EQ(nbx_trace_enabled(NBX_TRACE_SQL), 1);
    const std::int32_t acknowledged = readCountOf(getpid());
    console({"-p", kPid, "TRACE", "API", "ON"});
    std::atomic<bool> stop{false};
    std::vector<std::thread> callers;
    if (threaded) for (auto call : calls) callers.emplace_back([call, &stop] { while (!stop) call(); });
    const pid_t child = makeChild();
    if (child == 0) {
      alarm(10);
      for (auto call : calls) call();
      // The configuration has nothing on; the parent's settings are not the child's.
      _exit(nbx_trace_enabled(NBX_TRACE_SQL) + nbx_trace_enabled(NBX_TRACE_API) == 0 ? 0 : 1);
    }
    stop = true;
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(exitStatus(child), 0);
    EXPECT_EQ(readCountOf(child), -1);
    EXPECT_TRUE(threaded || readCountOf(getpid()) == acknowledged);  // else the threads took it up
    EXPECT_EQ(nbx_trace_enabled(NBX_TRACE_API), 1);
    EXPECT_EQ(readCountOf(getpid()), shmWord(0));
    console({"-p", kPid, "TRACE", "REFRESH"});
  }
}

// A program that returns from main while its threads still call neither
// crashes nor hangs.
TEST_F(TraceLibrary, TheProcessExitsWhileThreadsStillCall) {
  console({"TRACE", "SQL", "ON"});
#if defined(__SANITIZE_THREAD__)
  const int runs = 6;  // a second each: what is checked here is races, not how often a crash shows
#else
  const int runs = 60;
#endif
  for (int run = 0; run < runs; ++run) {  // counting, then tracing
    const std::vector<std::string> args(2 * run / runs, "printf");
    ASSERT_EQ(runProgram(EXITING_HOST, args, inheritedTestEnvironment()).status, 0) << run;
  }
}

// Settings read over and over again take no more memory than the first few.
TEST_F(TraceLibrary, MemoryStaysFlatOverChanges) {
  console({"-p", kPid, "TRACE", "SQL", "ON"});
  const auto change = [](int times) {  // the counter moved, as by a console
    for (std::int32_t count = shmWord(0) + 1; times-- > 0; ++count) {
      std::fstream(shmPath(), std::ios::in | std::ios::out).write(reinterpret_cast<char*>(&count), 4);
      ASSERT_EQ(nbx_trace_printf(NBX_TRACE_SQL, "change %d", count), NBX_OK);
    }
  };
  change(20);
  const std::size_t before = mallinfo2().uordblks;
  change(2000);
  EXPECT_LT(mallinfo2().uordblks, before + 16384);
}

// Whatever is in place of the file, the library neither crashes nor prints;
// what it cannot use turns tracing off with one diagnostic that says why. It
// collects nothing under a name or a process id it does not know.
TEST_F(TraceLibrary, AHostileSharedMemoryFileTurnsTracingOffAtWorst) {
  struct { const char* name; void (*spoil)(const std::string&); int sqlEnabled; const char* diagnostic; } cases[] = {
      {"own flags without their NUL", [](const std::string& path) {
         const std::int32_t pid = getpid();
         std::fstream file(path, std::ios::in | std::ios::out);
         file.seekp(256).write(reinterpret_cast<const char*>(&pid), 4).seekp(256 + 8) << std::string(256, 'a');
       }, 1, ""},
      {"a short file", [](const std::string& path) { ASSERT_EQ(truncate(path.c_str(), 100), 0); }, 0, ""},
      {"a symbolic link", [](const std::string& path) { ::unlink(path.c_str()), symlink("/etc/passwd", path.c_str()); },
       0, "Too many levels of symbolic links"},
      {"a directory", [](const std::string& path) { ::unlink(path.c_str()), mkdir(path.c_str(), 0700); }, 0,
       "Is a directory"},
      {"a configuration that cannot be read",
       [](const std::string&) { writeFile(privateProfileDirectory() + "/SSFS_ORQ.DAT", std::string(200, 'x')); }, 0,
       "The trace configuration cannot be read"},
      {"a file cut short while mapped", [](const std::string& path) {  // found short by the next change, and left
         console({"TRACE", "SQL", "ON"});
         EXPECT_EQ(nbx_trace_enabled(NBX_TRACE_SQL), 1);
         ASSERT_EQ(truncate(path.c_str(), 4096), 0);
         std::fstream(path, std::ios::in | std::ios::out) << "\x7f\x7f\x7f\x7f";
       }, 0, "cut short while mapped; tracing is off"},
  };
  for (const auto& c : cases) {
    removeTree(privateHomeDirectory() + "/.orq");
    consoles({{"PROFILE", "FILENAME", privateHomeDirectory() + "/profile-%p.prt"}, {"PROFILE", "COLLECT", "ON"}});
    c.spoil(shmPath());
    diagnostics = 0;
    g_lastDiagnostic.clear();
    EXPECT_EQ(nbx_trace_enabled(NBX_TRACE_SQL) + nbx_trace_enabled(NBX_TRACE_SQL), 2 * c.sqlEnabled) << c.name;
    EXPECT_EQ(nbx_profile_add("calls", 1), NBX_OK) << c.name;
    struct nbx_trace_settings settings = NBX_TRACE_SETTINGS_INIT;
    EXPECT_TRUE(nbx_trace_get_settings(&settings) == NBX_OK &&
                static_cast<int>((settings.categories >> NBX_TRACE_SQL) & 1) == c.sqlEnabled)
        << c.name;
    EXPECT_EQ(diagnostics, c.diagnostic[0] != '\0' ? 1 : 0) << c.name;
    EXPECT_NE(g_lastDiagnostic.find(c.diagnostic), std::string::npos) << c.name << ": " << g_lastDiagnostic;
    nbx_trace_close();
  }
}

// Eight threads trace while consoles flip the time stamp of the process's own
// settings (-p) and of the configuration: every change is acknowledged (-w),
// every record is whole, and every thread sees SQL trace on throughout.
TEST_F(TraceLibrary, RecordsStayWholeWhileSettingsChange) {
  constexpr int kThreads = 8;
  for (const std::vector<std::string>& route : {std::vector<std::string>{"-p", kPid}, std::vector<std::string>{}}) {
    const auto viaRoute = [&route](std::vector<std::string> words) {
      words.insert(words.begin(), route.begin(), route.end());
      console(words);
    };
    consoles({{"-p", kPid, "TRACE", route.empty() ? "REFRESH" : "OFF"}, {"TRACE", "OFF"}});
    ::unlink(traceFile.c_str());
    viaRoute({"TRACE", "SQL", "ON"});
    nbx_trace_enabled(NBX_TRACE_SQL);  // until now the last round's file, which is gone, was in force
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, written{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([t, &stop, &torn, &written] {
        const std::string payload(1100, 'a' + t);  // past the buffers a common record is made in
        struct nbx_trace_settings settings = NBX_TRACE_SETTINGS_INIT;
        for (int i = 0; !stop; ++i, ++written) {
          if (nbx_trace_get_settings(&settings) != NBX_OK || !(settings.categories & (1u << NBX_TRACE_SQL)) || !nbx_trace_enabled(NBX_TRACE_SQL)) ++torn;
          nbx_trace_printf(NBX_TRACE_SQL, "%d %d %s", t, i, payload.c_str());
          std::this_thread::sleep_for(std::chrono::microseconds(500));  // leaves the consoles a core
        }
      });
    }
    for (int flip = 0; flip < 6; ++flip) viaRoute({"-w", "5", "TRACE", "TIMESTAMP", flip % 2 ? "OFF" : "ON"});
    stop = true;
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(torn, 0);
    const std::regex record(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} )?(\d) \d+ )");
    const std::vector<std::string> found = lines(traceFile);
    EXPECT_EQ(found.size(), static_cast<std::size_t>(written));
    for (const std::string& line : found) {
      std::smatch match;
      ASSERT_TRUE(std::regex_search(line, match, record, std::regex_constants::match_continuous)) << line;
      ASSERT_EQ(match.suffix(), std::string(1100, 'a' + std::stoi(match[2]))) << line;
    }
  }
}

// Counters reach the profile file when a change with the collect action is
// taken up, without waiting for the next count, and SHOW PROFILE DETAILS
// shows them; a reset zeroes them, and stops collecting; close writes the
// last counts. A forked child collects only its own.
TEST_F(TraceLibrary, CountersAreShownWhileCollected) {
  console({"PROFILE", "FILENAME", privateHomeDirectory() + "/profile-%p.prt"});
  const auto shown = [](const std::string& pid, const std::string& name) {
    const std::string out = runConsole({"SHOW", "PROFILE", "DETAILS"}).out;
    std::smatch value;
    return std::regex_search(out, value, std::regex("  " + pid + "  " + name + "  +(\\S+)")) ? value[1].str() : "none";
  };
  const struct { std::vector<std::string> change; long long amount; std::string shown; } rounds[] = {
      {{"PROFILE", "COLLECT", "ON"}, 11, "11"}, {{"PROFILE", "RESET"}, 5, "11"},
      {{"PROFILE", "COLLECT", "ON"}, 1, "1"}};
  for (const auto& round : rounds) {
    EXPECT_EQ(nbx_profile_add("queries run", round.amount), NBX_OK);  // a blank is no part of a name
    console(round.change);
    nbx_trace_enabled(NBX_TRACE_SQL);
    EXPECT_EQ(shown(kPid, "queries_run"), round.shown);
  }
  const pid_t child = fork();
  if (child == 0) exit(nbx_profile_add("child_calls", 7) == NBX_OK ? 0 : 1);  // written at exit
  EXPECT_EQ(exitStatus(child), 0);
  EXPECT_EQ(nbx_profile_add("queries run", 2), NBX_OK);
  nbx_trace_close();
  EXPECT_EQ(shown(kPid, "queries_run"), "3");
  EXPECT_EQ(shown(std::to_string(child), "child_calls"), "7");
  EXPECT_EQ(shown(std::to_string(child), "queries_run"), "none");
}

// A profile file that cannot be written is tried once a second and reported
// once per problem, to a callback that may call the library (close reports
// with no lock held); a write that succeeds again ends the problem.
TEST_F(TraceLibrary, AProfileFileThatCannotBeWrittenIsToldOnce) {
  const std::string directory = privateHomeDirectory() + "/profiles";
  consoles({{"PROFILE", "FILENAME", directory + "/profile-%p.prt"}, {"PROFILE", "COLLECT", "ON"}});
  nbx_trace_set_diagnostic([](const char* text, void* context) {
    countDiagnostic(text, context);
    nbx_trace_open(nullptr);
  }, &diagnostics);
  int failed = 0;
  for (int i = 0; i < 1000; ++i) failed += nbx_profile_add("calls", 1) == NBX_ERROR_WRITE;
  EXPECT_LE(failed, 1);  // one attempt, here or when the settings were taken up
  EXPECT_EQ(diagnostics, 1);
  EXPECT_EQ(g_lastDiagnostic, "The profile file " + directory + "/profile-" + kPid +
                                  ".prt cannot be written: No such file or directory");
  nbx_trace_close();  // the same problem again
  EXPECT_EQ(diagnostics, 1);
  ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
  nbx_trace_close();
  EXPECT_NE(readFile(directory + "/profile-" + kPid + ".prt").find("calls"), std::string::npos);
  removeTree(directory);
  nbx_profile_add("calls", 1);
  nbx_trace_close();  // the problem is back: told again, from close
  EXPECT_EQ(diagnostics, 2);
}

// Every record written before its writer ends reads back: after exit the
// gzip stream is whole, after SIGKILL it lacks only its end. Processes that
// share a file write whole members, which never mix. A disk that fills in
// the middle of a record, then has room again, leaves no cut line or member
// before the next record; with %p the member's cut bytes go out first.
TEST_F(TraceLibrary, RecordsOutliveTheirWriter) {
  const struct { const char* name; bool compressed; int processes; bool killed, whole, diskFull; } cases[] = {
      {"/own-%p.prt", true, 1, false, true, false}, {"/own-%p.prt", true, 1, true, false, false},
      {"/shared.prt", true, 3, true, true, false},  {"/own-%p.prt", true, 1, false, true, true},
      {"/shared.prt", true, 1, false, true, true},  {"/shared.prt", false, 1, false, true, true},
  };
  constexpr int kRecords = 200;
  for (const auto& c : cases) {
    const std::string name = privateHomeDirectory() + c.name;
    ::unlink(name.c_str());
    consoles({{"CONFIG", "TRACE", "FILENAME", name}, {"CONFIG", "TRACE", "COMPRESS", c.compressed ? "ON" : "OFF"},
              {"TRACE", "SQL", "ON"}});
    const auto fileOf = [&name](pid_t pid) { return std::regex_replace(name, std::regex("%p"), std::to_string(pid)); };
    std::set<std::string> files;
    for (int p = 0; p < c.processes; ++p) {
      const pid_t child = fork();
      if (child == 0) {
        int failed = 0;
        struct rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        for (int i = 0; i < kRecords; ++i) {
          if (c.diskFull && i % 100 == 50) {  // full, then room again
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit lowered = {readFile(fileOf(getpid())).size() + 50, limit.rlim_max};
            setrlimit(RLIMIT_FSIZE, i < 100 ? &lowered : &limit);
          }
          failed += nbx_trace_printf(NBX_TRACE_SQL, "process %d record %d", p, i) != NBX_OK;
        }
        if (c.killed) raise(SIGKILL);
        exit(failed);
      }
      files.insert(fileOf(child));
    }
    int failed = 0;
    for (int status, p = 0; p < c.processes; ++p) {
      EXPECT_GT(wait(&status), 0);
      failed += WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    }
    std::set<std::string> records;
    for (const std::string& file : files) {
      bool whole = false;
      for (const std::string& line : lines(file, &whole)) {
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(process \d record \d+)"))) << line;
        records.insert(line);
      }
      EXPECT_EQ(whole, c.whole) << file;
      ::unlink(file.c_str());
    }
    const bool keepsCutBytes = c.compressed && std::strstr(c.name, "%p") != nullptr;
    EXPECT_EQ(failed > 0, c.diskFull) << c.name;
    EXPECT_EQ(records.size(), static_cast<std::size_t>(c.processes * kRecords - (keepsCutBytes ? 0 : failed)))
        << c.name << c.killed << c.compressed;
  }
}

// Every line says who wrote it: the thread, and the process in a file other
// processes may write (no %p). The first line a process writes into a file
// names the program, the process, the library and the settings; a change
// taken up is a line of its own.
TEST_F(TraceLibrary, EachLineSaysWhoWroteIt) {
  for (const std::string name : {"trace-%p.prt", "shared.prt"}) {
    const std::string file = privateHomeDirectory() + "/" + name;
    const std::string path = std::regex_replace(file, std::regex("%p"), kPid);
    consoles({{"CONFIG", "TRACE", "FILENAME", file}, {"TRACE", "SQL", "ON"}});
    nbx_trace_printf(NBX_TRACE_SQL, "main");
    std::thread([] { nbx_trace_printf(NBX_TRACE_SQL, "other"); }).join();
    console({"TRACE", "TIMESTAMP", "ON"});
    nbx_trace_printf(NBX_TRACE_SQL, "stamped");
    nbx_trace_close();
    const std::string ids = name[6] == '%' ? R"(\[(\d+)\] )" : R"(\[)" + kPid + R"(:(\d+)\] )";
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} )";
    const std::vector<std::string> found = lines(path, nullptr, true);
    const std::vector<std::string> expected = {
        ids + "=== client_tests, process " + kPid + ", library " + nbx_version() + R"(, update count \d+, settings .*)",
        ids + "main", ids + "other", stamp + ids + R"(=== change taken up: update count \d+, settings .*T.*)",
        stamp + ids + "stamped"};
    ASSERT_EQ(found.size(), expected.size()) << name;
    std::set<std::string> threads;
    for (std::size_t i = 0; i < found.size(); ++i) {
      std::smatch match;
      ASSERT_TRUE(std::regex_match(found[i], match, std::regex(expected[i]))) << found[i];
      threads.insert(match[1]);
    }
    EXPECT_EQ(threads.size(), 2u) << name;  // the main thread's and the other's
    EXPECT_TRUE(threads.count(kPid)) << name;
    removeWithOlder(path);
    console({"TRACE", "OFF"});
  }
}

// What the process tells the console in its status file, step by step: the
// trace file and whether it is written, a stop on error, the profile file;
// files of ended processes are cleared away, and close takes its own back.
TEST_F(TraceLibrary, TheProcessPublishesWhatItDoes) {
  const std::string folder = privateProfileDirectory() + "/clients";
  const std::string missing = privateHomeDirectory() + "/missing";
  const auto status = [&folder] {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.path().filename().string().rfind("NEBRIX-" + kPid + "-", 0) == 0) return readFile(entry.path());
    return std::string("none");
  };
  consoles({{"PROFILE", "FILENAME", privateHomeDirectory() + "/p-%p.prt"}, {"TRACE", "SQL", "ON"}});
  mkdir(folder.c_str(), 0700);
  std::ofstream(folder + "/NEBRIX-999999999-5") << "ended";
  std::ofstream(folder + "/notes") << "not ours";
  const std::vector<std::string> refresh = {"TRACE", "REFRESH"};
  struct {
    std::vector<std::vector<std::string>> changes;
    std::function<void()> then;
    std::vector<std::string> says;
  } steps[] = {
      {{}, [] { nbx_trace_open(nullptr); },
       {"program client_tests\n", "trace_file " + traceFile + "\n", "trace_state writing\n", "shared 1\n"}},
      {{{"CONFIG", "TRACE", "FILENAME", missing + "/t-%p.prt"}, refresh}, [] {},
       {"trace_state cannot_write\ntrace_reason No such file or directory\n", "shared 0\n"}},
      {{}, [&missing] { mkdir(missing.c_str(), 0700), nbx_trace_printf(NBX_TRACE_SQL, "now"); },
       {"trace_state writing\n", "trace_file " + missing + "/t-" + kPid + ".prt\n"}},
      {{{"TRACE", "STOP", "ON", "ERROR", "5"}}, [] { nbx_trace_error(5); }, {"trace_state stopped\ntrace_error 5\n"}},
      {{{"PROFILE", "COLLECT", "ON"}}, [] { nbx_profile_add("calls", 1); },
       {"trace_state writing\n", "profile_file " + privateHomeDirectory() + "/p-" + kPid + ".prt\nprofile_state written\n"}},
      {{{"TRACE", "OFF"}}, [] {}, {"trace_state off\n"}},
      {{}, [] { nbx_trace_close(); }, {"none"}},
  };
  for (const auto& step : steps) {
    for (const std::vector<std::string>& change : step.changes) console(change);
    nbx_trace_enabled(NBX_TRACE_SQL);
    step.then();
    const std::string now = status();
    for (const std::string& text : step.says) EXPECT_NE(now.find(text), std::string::npos) << text << "\n" << now;
  }
  EXPECT_FALSE(std::filesystem::exists(folder + "/NEBRIX-999999999-5"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/notes"));
  removeTree(missing);
  ::unlink((privateHomeDirectory() + "/p-" + kPid + ".prt").c_str());
}

// A change of z never mixes text and gzip in one file: the file in the other
// form is moved to <file>.1. A text file of one byte is text.
TEST_F(TraceLibrary, SwitchingCompressionStartsANewFile) {
  console({"TRACE", "SQL", "ON"});
  std::ofstream(traceFile) << '\n';
  for (const char* compress : {"ON", "OFF"}) {
    EXPECT_EQ(nbx_trace_printf(NBX_TRACE_SQL, "before %s", compress), NBX_OK);
    consoles({{"CONFIG", "TRACE", "COMPRESS", compress}, {"TRACE", "SQL", "ON"}});  // the first is not announced
    nbx_trace_printf(NBX_TRACE_SQL, "after %s", compress);
    nbx_trace_close();
    EXPECT_EQ(isGzip(traceFile), compress[1] == 'N');
    EXPECT_EQ(isGzip(traceFile + ".1"), compress[1] != 'N');
    EXPECT_EQ(lines(traceFile + ".1").back(), std::string("before ") + compress);
    EXPECT_EQ(lines(traceFile), std::vector<std::string>{std::string("after ") + compress});
    EXPECT_TRUE(compress[1] != 'N' || readFile(traceFile + ".1").compare(0, 2, "\n[") == 0);
  }
}

}  // namespace
}  // namespace nebrix_test
