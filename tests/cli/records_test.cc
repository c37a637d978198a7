// SHOW RECORDS: the trace file of a process, found through the status it
// published. The test process itself (or a child of it) stands for the
// client here, with a status and trace files written by hand, so that every
// form of file can be made exactly.
#include <signal.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console_session.h"
#include "trace/client_status_files.h"
#include "trace_client.h"

namespace nebrix_test {
namespace {

using NEBRIX::ClientStatus;

// One gzip member; without `end` it stops at a sync flush, as the member of
// a process that still writes.
std::string gzip(const std::string& text, bool end = true) {
  z_stream z{};
  std::string out(text.size() + 64, '\0');
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, end ? Z_FINISH : Z_SYNC_FLUSH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

class Records : public ConsoleSession {
 protected:
  std::string path() const { return privateHomeDirectory() + "/trace.txt"; }
  void publish(pid_t pid, bool shared = false, ClientStatus::TraceState state = ClientStatus::TRACE_WRITING) const {
    ClientStatus status;
    status.component = "NEBRIX";
    status.pid = pid;
    ASSERT_TRUE(NEBRIX::processStartTime(pid, status.started));
    status.program = "records_test";
    status.traceFile = path();
    status.traceState = state;
    status.traceReason = state == ClientStatus::TRACE_CANNOT_WRITE ? "Permission denied" : "";
    status.shared = shared;
    ASSERT_EQ(NEBRIX::publishClientStatus(profileDirectory(), status, m_lock), 0);
  }
  mutable NEBRIX::StatusFileLock m_lock;  // the file is current while it is held
  void writeFiles(const std::string& older, const std::string& current) const {
    unlink((path() + ".1").c_str());
    if (!older.empty()) writeFile(path() + ".1", older);
    writeFile(path(), current);
  }
};

const std::string kSelf = std::to_string(getpid());

TEST_F(Records, PrintsRotatedCompressedAndSharedFiles) {
  const std::string p = kSelf;
  const std::string ownOlder = "[7] === records_test, process " + p + "\n[7] one\n";
  const std::string ownCurrent = "[7] two\n00000000  41 42\n[8] three\n";
  const std::string shared = "[" + p + ":1] mine\n00000000  41\n[99:1] other\n  more of it\n" +
                             "2026-12-07 10:15:02.123456 [" + p + ":2] late\n[4711] not shared\n";
  const std::string damaged = gzip("[7] whole\n") + std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03\x07", 11);
  const struct {
    bool shared;
    std::string older, current;
    std::vector<std::string> words;
    std::string out, err;
  } cases[] = {
      {false, ownOlder, ownCurrent, {}, ownOlder + ownCurrent, ""},
      {false, ownOlder, ownCurrent, {"L", "2"}, "[7] two\n00000000  41 42\n[8] three\n", ""},
      {false, ownOlder, ownCurrent, {"last", "3"}, ownOlder.substr(ownOlder.find('\n') + 1) + ownCurrent, ""},
      {false, "", "[1] whole\n[1] half", {}, "[1] whole\n", ""},  // the rest of it is on its way
      // Members, and a last one without its end.
      {false, gzip("[1] a\n") + gzip("[1] b\n"), gzip("[1] c\n") + gzip("[1] d\n00000000  ff\n", false), {},
       "[1] a\n[1] b\n[1] c\n[1] d\n00000000  ff\n", ""},
      {false, "[1] text before\n", gzip("[1] compressed after\n"), {}, "[1] text before\n[1] compressed after\n", ""},
      {true, "", shared, {}, "[" + p + ":1] mine\n00000000  41\n2026-12-07 10:15:02.123456 [" + p + ":2] late\n", ""},
      {false, "", damaged, {}, "[7] whole\n",
       "Error: Cannot read the trace file " + path() + ": damaged compressed data (invalid block type) before byte " +
           std::to_string(damaged.size()) + ".\n"},
  };
  for (const auto& c : cases) {
    writeFiles(c.older, c.current);
    publish(getpid(), c.shared);
    std::vector<std::string> args = {"-p", kSelf, "SHOW", "REC"};
    args.insert(args.end(), c.words.begin(), c.words.end());
    check({{args, c.out, c.err, c.err.empty() ? 0 : 1}});
  }

  writeFiles(ownOlder, ownCurrent);
  const nlohmann::json document = nlohmann::json::parse(runConsole({"-p", kSelf, "-o", "json", "S", "REC"}).out);
  EXPECT_EQ(document["trace"]["files"][0]["path"], path() + ".1");
  EXPECT_EQ(document["trace"]["records"][2]["text"], "[7] two\n00000000  41 42");
}

TEST_F(Records, SaysWhyThereIsNothingToRead) {
  const std::string t = path();
  const std::string cannotRead = "Error: Cannot read the trace file " + t + ": ";
  const struct {
    ClientStatus::TraceState state;
    std::string shell;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {ClientStatus::TRACE_WRITING, "", {"S", "REC"},
       "Error: SHOW RECORDS needs -p <pid>, the process whose trace to print.\n1"},
      {ClientStatus::TRACE_WRITING, "", {"-p", "2147483646", "S", "REC"},
       "Error: Process 2147483646 is not running.\n1"},
      {ClientStatus::TRACE_WRITING, "", {"-p", "1", "S", "REC"},
       "Error: Process 1 has published no trace status: it does not use the NEBRIX trace library, or has not "
       "called it yet.\n1"},
      {ClientStatus::TRACE_WRITING, "", {"-p", kSelf, "-o", "json", "S", "REC", "F"},
       "Error: Option -o json does not apply to SHOW RECORDS FOLLOW, whose output never ends.\n1"},
      {ClientStatus::TRACE_CANNOT_WRITE, "", {"-p", kSelf, "S", "REC"},
       "Error: The trace file " + t + " of process " + kSelf + " cannot be written: Permission denied.\n1"},
      {ClientStatus::TRACE_OFF, "", {"-p", kSelf, "S", "REC"}, "Error: The trace of process " + kSelf + " is off.\n1"},
      {ClientStatus::TRACE_WRITING, "", {"-p", kSelf, "S", "REC"},
       "Error: Process " + kSelf + " has no trace file yet: " + t + " does not exist.\n1"},
      {ClientStatus::TRACE_WRITING, "echo >" + t + "; chmod 0 " + t + ";", {"-p", kSelf, "S", "REC"},
       cannotRead + "Permission denied.\n1"},
      {ClientStatus::TRACE_WRITING, "ln -s /etc/passwd " + t + ";", {"-p", kSelf, "S", "REC"},
       cannotRead + "it is a symbolic link.\n1"},
      {ClientStatus::TRACE_WRITING, "mkfifo " + t + ";", {"-p", kSelf, "S", "REC"},
       cannotRead + "it is not a regular file.\n1"},
      {ClientStatus::TRACE_OFF, "echo '[1] old' >" + t + ";", {"-p", kSelf, "S", "REC"},
       "Note: The trace of process " + kSelf + " is off; these are the records it wrote before.\n0"},
  };
  for (const auto& c : cases) {
    unlink(t.c_str());
    publish(getpid(), false, c.state);
    EXPECT_EQ(errorAndStatus(c.args, c.shell), c.err) << c.shell << testing::PrintToString(c.args);
  }
}

// Real clients write 600 records, one every 2 ms, into files of at most 8192
// bytes: the follow started after tracing began prints each record of its
// process once, in order, through every rotation; it ends with the process,
// or when it is interrupted, with success.
TEST_F(Records, FollowsRealClientsThroughRotations) {
  const struct {
    std::string name, compress;
    bool interrupt;
  } cases[] = {{"/own-%p.txt", "OFF", false}, {"/own-%p.gz", "ON", false}, {"/shared.txt", "OFF", true}};
  for (const auto& c : cases) {
    runOk({"CONFIG", "TRACE", "FILENAME", privateHomeDirectory() + c.name});
    runOk({"CONFIG", "TRACE", "SIZE", "8192"});
    runOk({"CONFIG", "TRACE", "COMPRESS", c.compress});
    std::vector<std::string> lines;
    std::string pid;
    {
      auto client = std::make_unique<TraceClient>("-i 2 -r 600");
      TraceClient other("-i 2 -r 600");
      pid = client->pid();
      client->nextLine();
      other.nextLine();
      runOk({"-w", "5", "TRACE", "SQL", "ON"});
      TraceClient follower("-p " + pid + " SHOW REC FOLLOW 2>&1", NEBRIX_CONS_BINARY);
      for (std::string line = follower.nextLine(); !line.empty(); line = follower.nextLine()) {
        lines.push_back(line);
        if (line.find("record 600 of 600") != std::string::npos) break;
      }
      if (c.interrupt) {  // after it is followed to the file it is told to write next
        runOk({"CONFIG", "TRACE", "FILENAME", privateHomeDirectory() + "/next-%p.txt"});
        runOk({"-w", "5", "TRACE", "REFRESH"});
        EXPECT_EQ(follower.nextLine(), "Note: Process " + pid + " now writes its trace to " +
                                           privateHomeDirectory() + "/next-" + pid + ".txt.");
        const std::string first = follower.nextLine();
        EXPECT_NE(first.find("=== nebrix_trace_client, process " + pid), std::string::npos) << first;
        kill(std::stoi(follower.pid()), SIGTERM);
      }
      client.reset();
      for (std::string line = "="; !line.empty() && line.find("Process") != 0;) lines.push_back(line = follower.nextLine());
      EXPECT_EQ(follower.end(), 0);  // the status of pclose
    }
    int next = 1;
    const std::string prefix = c.name == "/shared.txt" ? "[" + pid + ":" : "[";
    for (const std::string& line : lines) {
      if (line.find(" record ") == std::string::npos) continue;
      EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
      EXPECT_EQ(line.substr(line.find(" record ")), " record " + std::to_string(next++) + " of 600") << c.name;
    }
    EXPECT_EQ(next, 601) << c.name;
    EXPECT_EQ(lines.back(), c.interrupt ? "" : "Process " + pid + " has ended.") << c.name;
  }
}

}  // namespace
}  // namespace nebrix_test
