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
#include "trace/trace_categories.h"
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
  // A command is where its first word sends it and what it does there:
  // CONFIG changes the configuration only; TRACE changes what running
  // processes follow (the configuration and a refresh, or with -p one
  // process's own settings); PROFILE RESET|COLLECT likewise, PROFILE
  // FILENAME the configuration only; SHOW prints. A category command
  // (TRACE SQL ON) also names its category.
  enum class Route : uint8_t { NONE, HELP, CONFIG, TRACE, PROFILE, SHOW };
  enum class Action : uint8_t {
    NONE,
    CATEGORY,  // a trace category on or off
    TIMESTAMP,
    COMPRESS,
    FILE_SIZE,
    FILE_NAME,
    STOP_ON_ERROR,
    REFRESH,
    OFF,
    PROFILE_RESET,
    PROFILE_COLLECT_ON,
    PROFILE_COLLECT_OFF,
    SHOW_CONFIG,
    SHOW_TRACESETTINGS,
    SHOW_TRACEFILE,  // parsed, but there is nothing to show
    SHOW_ALL,
    SHOW_PROFILE,
    SHOW_PROFILE_DETAILS,
    SHOW_HISTORY,
    SHOW_PROCESSES,
    SHOW_RECORDS,
  };
  struct Command {
    Route route = Route::NONE;
    Action action = Action::NONE;
    TraceCategory category = TraceCategory::SHORT;  // with Action::CATEGORY

    bool operator==(const Command& other) const {
      return route == other.route && action == other.action &&
             (action != Action::CATEGORY || category == other.category);
    }
    bool operator!=(const Command& other) const { return !(*this == other); }
    // It changes a setting (and is recorded in the usage history).
    bool changes() const { return route == Route::CONFIG || route == Route::TRACE || route == Route::PROFILE; }
    // The SHOW commands: the only ones with "-o json".
    bool shows() const { return route == Route::SHOW; }
    // TRACE ... and PROFILE RESET|COLLECT: the commands that move the update
    // counter of the trace shared-memory file, and that -w may wait for.
    bool reachesProcesses() const {
      return route == Route::TRACE || (route == Route::PROFILE && action != Action::FILE_NAME);
    }
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
  // Runs the operation of the command.
  NEBRIX_Retcode runOperation();
  NEBRIX_Retcode runShow();
  // A command that no operation takes: a fault of this program, said so.
  NEBRIX_Retcode reportUnknownCommand() const;

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

  NEBRIX_Retcode traceRefresh();
  NEBRIX_Retcode traceOff();

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

  Command m_command;
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
bool matchKeyword(const char* word, const char* keyword, int minLength);

// Writes "Error: Syntax error, found <found>, expected <expected>." and returns
// NEBRIX_NOT_OK.
NEBRIX_Retcode reportSyntaxError(Text::Output& stream, const char* expected, const char* found);

}  // namespace NEBRIX
