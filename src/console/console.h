// The trace console: one object per run of nebrix_cons. parseArguments reads
// the options and one command of the keyword language into it, run executes
// that command once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "base/retcode.h"
#include "base/text_output.h"
#include "trace/trace_shared_memory.h"

namespace NEBRIX {

struct TraceFlags;
struct TraceSetting;
struct ProcessList;

// Reports a failed configuration call on standard error as
// "<what> (<errortext>)<end>" and returns NEBRIX_NOT_OK.
NEBRIX_Retcode reportConfigurationError(const char* what, const char* errortext, const char* end = ".");

class Console {
 public:
  // The command codes that connect the parser to the operations. The numbers
  // are fixed; codes marked "never parsed" have no command words.
  enum Command : int32_t {
    C_NONE = 0,
    C_HELP = 1,
    C_CONFIG_TRACE_SHORT = 2,
    C_CONFIG_TRACE_LONG = 3,
    C_CONFIG_TRACE_PROFILE = 4,  // never parsed
    C_CONFIG_TRACE_PACKET = 5,
    C_CONFIG_TRACE_SQL = 6,
    C_CONFIG_TRACE_TIMESTAMP = 7,
    C_CONFIG_TRACE_SIZE = 8,
    C_CONFIG_TRACE_FILENAME = 9,
    C_CONFIG_TRACE_STOP_ON_ERROR = 10,
    C_CONFIG_TRACE_COMPRESS = 11,
    C_CONFIG_TRACE_API = 12,
    C_CONFIG_TRACE_DISTRIBUTION = 13,
    C_TRACE_SHORT = 14,
    C_TRACE_LONG = 15,
    C_TRACE_PROFILE = 16,  // never parsed
    C_TRACE_PACKET = 17,
    C_TRACE_SQL = 18,
    C_TRACE_TIMESTAMP = 19,
    C_TRACE_SIZE = 20,
    C_TRACE_REFRESH = 21,
    C_TRACE_OFF = 22,
    C_TRACE_STOP_ON_ERROR = 23,
    C_TRACE_COMPRESS = 24,  // never parsed
    C_TRACE_API = 25,
    C_TRACE_DISTRIBUTION = 26,
    C_PROFILE_RESET = 27,
    C_PROFILE_COLLECT_ON = 28,
    C_PROFILE_COLLECT_OFF = 29,
    C_PROFILE_FILENAME = 30,
    C_SHOW_CONFIG = 31,
    C_SHOW_TRACESETTINGS = 32,
    C_SHOW_TRACEFILE = 33,  // parsed, but there is nothing to run
    C_SHOW_PROFILE = 34,
    C_SHOW_PROFILE_DETAIL = 35,
    C_SHOW_ALL = 36,
    C_SHOW_HISTORY = 37,
    C_READSHM = 38,   // never parsed
    C_WRITESHM = 39,  // never parsed
    C_SHOW_PROCESSES = 40,
    C_SHOW_RECORDS = 41,
  };

  // What the SHOW commands print: "-o text" (the default) or "-o json".
  enum OutputFormat { OUTPUT_TEXT, OUTPUT_JSON };

  Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // The options, then the command words. Every error is reported on standard
  // error before NEBRIX_NOT_OK is returned.
  NEBRIX_Retcode parseArguments(int argc, char** argv);
  // Runs the parsed command once.
  NEBRIX_Retcode run();
  // What -h, --help and --version ask for: the usage text; the usage text
  // and the options and commands beyond it; the version.
  enum HelpRequest { HELP_USAGE, HELP_FULL, HELP_VERSION };

  // Writes the usage text.
  static void usage(Text::Output& stream);
  // Writes what m_help asks for.
  void help(Text::Output& stream) const;
  // Records m_commandstring in the usage history. An entry that cannot be
  // written is reported on standard error, once per command however many
  // entries it writes, and the command goes on; a profile directory that
  // cannot be had raises ltt::exception.
  void logAction();

  // Parser results, read by the operations and by tests.
  Command command() const { return m_command; }
  bool verbose() const { return m_verbose; }
  bool pidPresent() const { return m_pidpresent; }
  int32_t pid() const { return m_pid; }
  bool on() const { return m_on; }
  int32_t size() const { return m_size; }
  const char* filename() const { return m_filename; }
  const char* user() const { return m_user; }
  bool stopOnError() const { return m_stop_on_error; }
  int32_t errorCode() const { return m_errorcode; }
  int32_t errorCount() const { return m_errorcount; }
  const std::string& commandString() const { return m_commandstring; }
  bool modification() const { return m_modification; }
  OutputFormat outputFormat() const { return m_output; }
  bool waitPresent() const { return m_waitpresent; }
  int32_t waitSeconds() const { return m_waitseconds; }
  // SHOW RECORDS: LAST <n> (-1: all records) and FOLLOW.
  int32_t lastRecords() const { return m_last; }
  bool follow() const { return m_follow; }
  // After run: -w ran out of time with the change made, while some client
  // had not taken it up, or a client took it up but cannot write its trace
  // file.
  bool changeNotAcknowledged() const { return m_notacknowledged; }

  // Codes 2 to 30 except the never-parsed 4, 16 and 24 change something.
  static bool isChangingCommand(Command command);
  // The SHOW commands, codes 31 to 37, 40 and 41: the only ones with "-o json".
  static bool isShowCommand(Command command);
  // TRACE ... and PROFILE RESET|COLLECT: the commands that move the update
  // counter of the trace shared-memory file, and that -w may wait for.
  static bool isDynamicCommand(Command command);

  // The live client processes of the user's trace shared-memory file and the
  // parts of ended ones. The file is only read: without it the list is
  // empty, and one that is not fit to use (the wrong size, unreadable) is
  // reported and left as it is. Without `withFlags` the configuration is not
  // read, and the effective flags of followers stay empty. Errors are
  // reported before NEBRIX_NOT_OK is returned.
  NEBRIX_Retcode loadProcessList(TraceSharedMemory& sharedMemory, ProcessList& list, bool withFlags = true);

 private:
  class CommandParser;

  // Option scan; sets `next` to the first command word.
  NEBRIX_Retcode scanOptions(int argc, char** argv, int& next);
  NEBRIX_Retcode scanOptionWords(int argc, char** argv, int& next);
  // What the options -w and --all are refused with: a command that is not
  // TRACE ... or PROFILE RESET|COLLECT.
  NEBRIX_Retcode refuseForOption(const char* option) const;
  // Runs the operation of the command; NEBRIX_NOT_OK without output when the
  // code has none.
  NEBRIX_Retcode runOperation();

  // The setting a flag-changing command stands for.
  TraceSetting settingOf(Command command) const;
  // Reads the configured flags, applies the setting and stores them back.
  NEBRIX_Retcode changeConfiguredFlags(const TraceSetting& setting);
  // A dynamic command: with "-p" the process's own flags change; without,
  // the configuration changes and all processes are refreshed.
  NEBRIX_Retcode changeTraceSetting(const TraceSetting& setting);
  NEBRIX_Retcode changeProcessFlags(const TraceSetting& setting);
  NEBRIX_Retcode configureFileName(bool profile);

  // The trace shared-memory file of the calling user.
  NEBRIX_Retcode attachToSharedMemory(TraceSharedMemory& sharedMemory);
  // m_sharedMemory, attached once for the whole command: the change, its
  // announcement and the -w wait use one mapping of one file.
  NEBRIX_Retcode attachForChange();
  NEBRIX_Retcode getProcessTraceFlags(TraceSharedMemory& sharedMemory, TraceFlags& flags);
  NEBRIX_Retcode setProcessTraceFlags(TraceSharedMemory& sharedMemory, const TraceFlags& flags);
  // Stores `flags` in the part of the -p process, and says why when no part
  // can be had for it.
  bool storeProcessFlags(TraceSharedMemory& sharedMemory, const char* flags);
  // --all: every live process with settings of its own follows the
  // configuration again. Under the caller's LockedScope, before the change
  // is announced; the processes are kept in m_handedback.
  void handBackOwnSettings(TraceSharedMemory& sharedMemory);

  // Configuration trace commands.
  NEBRIX_Retcode configTraceShort();
  NEBRIX_Retcode configTraceLong();
  NEBRIX_Retcode configTracePacket();
  NEBRIX_Retcode configTraceSQL();
  NEBRIX_Retcode configTraceTimestamp();
  NEBRIX_Retcode configTraceSize();
  NEBRIX_Retcode configTraceFilename();
  NEBRIX_Retcode configTraceStopOnError();
  NEBRIX_Retcode configTraceCompress();
  NEBRIX_Retcode configTraceApi();
  NEBRIX_Retcode configTraceDistribution();
  NEBRIX_Retcode configTraceProfile(TraceSharedMemory::ProfileAction action);
  NEBRIX_Retcode configProfileFilename();

  // Dynamic trace commands.
  NEBRIX_Retcode traceShort();
  NEBRIX_Retcode traceLong();
  NEBRIX_Retcode tracePacket();
  NEBRIX_Retcode traceSQL();
  NEBRIX_Retcode traceTimestamp();
  NEBRIX_Retcode traceSize();
  NEBRIX_Retcode traceRefresh();
  NEBRIX_Retcode traceOff();
  NEBRIX_Retcode traceStopOnError();
  NEBRIX_Retcode traceApi();
  NEBRIX_Retcode traceDistribution();
  NEBRIX_Retcode traceProfile(TraceSharedMemory::ProfileAction action);

  // Show commands.
  NEBRIX_Retcode showConfig();
  NEBRIX_Retcode showTracesettings();
  NEBRIX_Retcode showProfile(bool showDetails);
  NEBRIX_Retcode showHistory();
  NEBRIX_Retcode showProcesses();
  // SHOW RECORDS, text and JSON.
  NEBRIX_Retcode showRecords();

  // Moves the update counter for a change, under the caller's LockedScope.
  // With -w, every client without a part gets one holding "R" first, so that
  // its acknowledgement can be seen.
  void announceChange(TraceSharedMemory& sharedMemory);
  // -w: the wait for the clients' acknowledgement of the announced change.
  NEBRIX_Retcode awaitAcknowledgement();

  // -v: what the command changes, read before and after it.
  std::string currentSetting();
  bool changesFileName() const;
  bool changesOneProcess() const;
  void reportChange(const std::string& before, const std::string& after);

  // After a change: a file name that will not do what its user most likely
  // wants, and a -p process that does not run or does not use the trace
  // library, are named on standard error (false for such a process).
  void warnAboutFileName(bool profile) const;
  bool targetUsesLibrary();
  bool warnAboutTargetProcess();

  // "-o json": the document of the SHOW command, printed only once it is
  // complete. Each builder adds its command's member to `document` and, on
  // failure, reports on standard error as the text form does.
  NEBRIX_Retcode showJson();
  NEBRIX_Retcode configJson(nlohmann::json& document);
  NEBRIX_Retcode tracesettingsJson(nlohmann::json& document);
  NEBRIX_Retcode profileJson(nlohmann::json& document);
  NEBRIX_Retcode historyJson(nlohmann::json& document);
  NEBRIX_Retcode processesJson(nlohmann::json& document);

  Command m_command = C_NONE;
  bool m_verbose = false;
  HelpRequest m_help = HELP_USAGE;
  bool m_pidpresent = false;
  int32_t m_pid = 0;
  bool m_on = false;
  int32_t m_size = 0;
  const char* m_filename = nullptr;
  const char* m_user = nullptr;  // null: the calling user
  bool m_stop_on_error = false;
  int32_t m_errorcode = 0;
  int32_t m_errorcount = 0;  // 0: no COUNT given
  std::string m_commandstring;
  bool m_modification = false;
  bool m_historyEntryLost = false;  // and reported
  OutputFormat m_output = OUTPUT_TEXT;
  bool m_waitpresent = false;
  int32_t m_waitseconds = 0;
  int32_t m_changecount = 0;  // the update count the change made
  bool m_notacknowledged = false;
  int m_hostwarnings = 0;  // how often -H was given
  bool m_all = false;
  std::vector<int32_t> m_handedback;  // sorted
  TraceSharedMemory m_sharedMemory;  // see attachForChange
  int32_t m_last = -1;
  bool m_follow = false;
};

// True when `word` is a case-insensitive prefix of `keyword` with at least
// `minLength` characters. A null or empty word matches nothing.
bool Console_matchCommand(const char* word, const char* keyword, int minLength);

// Writes "Error: Syntax error, found <found>, expected <expected>." and returns
// NEBRIX_NOT_OK.
NEBRIX_Retcode print_syntax_error(Text::Output& stream, const char* expected, const char* found);

}  // namespace NEBRIX
