// The usage text of -h, and what --help and --version add to it.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/text_output.h"
#include "console/build_info.h"
#include "console/console.h"
#include "trace/trace_categories.h"

namespace NEBRIX {

namespace {

// The lines after the banner; blanks at line ends are part of the text.
const char* const kUsageOptions[] = {
    "Options:",
    "  -h           This help screen.",
    "  -v           Verbose operation.",
    "  -p <pid>     Execute command only for the specified process id.",
    "  -u <user>    Perform the operation for another user.",
    "Options must be separate, collating them is not supported.",
    "",
    "Commands for NEBRIX tracing:",
};

// After the categories of the usage text (trace/trace_categories.h).
const char* const kUsageCommands[] = {
    "  [CONFIG] TRACE TIMESTAMP ON|OFF",
    "    Enables/disables a timestamp prefix on each line that is traced.",
    "  [CONFIG] TRACE SIZE <size>",
    "    Limits the size of the trace file to <size> bytes, at least",
    "    8192 bytes are required.",
    "  [CONFIG] TRACE STOP ON ERROR <error>|OFF [COUNT <number>]",
    "    Stops tracing after the error <error> has happened <number>",
    "    times (default is 1), or switches the trace stop feature off.",
    "  CONFIG TRACE FILENAME <filename>",
    "    Sets the name of the trace file name. A '%p' in the name is",
    "    replaced by the process id.",
    "  TRACE REFRESH",
    "    Refreshes the trace settings from the configuration.",
    "    When -p is used, the dynamic options of the specified processes",
    "    are removed. When -p is not used, only client processes without",
    "    dynamic options are refreshed from the configuration.",
    "  TRACE OFF ",
    "    Switches all trace off.",
    "  PROFILE [RESET|COLLECT ON|COLLECT OFF]",
    "    Resets/Collects profile counter values from a running",
    "    nebrix application.",
    "  PROFILE FILENAME <filename>",
    "    Sets the name of the profile file name. A '%p' in the name is",
    "    replaced by the process id.",
    "  SHOW CONFIG",
    "    Displays the configuration.",
    "  SHOW TRACESETTINGS",
    "    Displays the dynamic trace options.",
    "  SHOW ALL",
    "    Displays configuration and dynamic trace options.",
    "  SHOW PROFILE [DETAILS]",
    "    Displays the application profile retrieved by         ",
    "    PROFILE COLLECT ON in a aggregated/detailed format.",
    "  SHOW HISTORY",
    "    Displays an usage history of this tool.",
    "",
    "All commands are case-insensitive, commands can be abbreviated.",
    "If a process id is specified, the options are valid for the",
    "specified process only, and are not used for new processes.",
    "CONFIG commands affect the configuration only, but not running",
    "processes (until a TRACE REFRESH or any TRACE command without",
    "CONFIG including those with process id).",
};

// What --help shows after the usage text: the options and commands that
// text leaves out (scripts and users know it line by line, so it does not
// grow). A row's section heading is printed before its first row; a line
// end in a description continues it on the next line.
struct FurtherHelp {
  const char* section;
  const char* name;
  const char* description;
};

const FurtherHelp kFurtherOptions[] = {
    {"Further options:", "--help", "This help screen, with the options and commands below."},
    {"Further options:", "--version", "Prints the version of nebrix_cons."},
    {"Further options:", "-o <format>", "Output of SHOW commands: text (the default) or json,\none JSON document."},
    {"Further options:", "-w <seconds>",
     "Waits up to <seconds> (0-3600) until every running client\nhas taken up a TRACE or PROFILE change; "
     "exits 2 naming\nthe processes that did not, or that cannot write their\ntrace file (the change is made)."},
    {"Further options:", "--all",
     "A TRACE or PROFILE command without -p also hands every\nrunning process with settings of its own back to the\n"
     "configuration: nebrix_cons --all TRACE OFF switches\neverything off. Not with -p."},
    {"Further options:", "-v",
     "Also: every changing command says what it changed and\nwhich processes it reaches; with -w, where their trace\n"
     "goes and whether it is written."},
};

// After the categories the usage text does not show.
const FurtherHelp kFurtherCommands[] = {
    {"Further commands:", "SHOW PROCESSES",
     "The running processes that use the trace shared memory,\n"
     "where their settings come from, whether they took up the\n"
     "last change and where their trace goes, and whether it\nis written (at least SHOW PROC)."},
    {"Further commands:", "-p <pid> SHOW RECORDS [LAST <n>] [FOLLOW]",
     "Prints the trace of process <pid>: its older file after a\n"
     "rotation, then the current one, decompressed, only its own\n"
     "records in a shared file; the last <n> with LAST. FOLLOW\n"
     "then prints new records until interrupted or the process\nends (at least SHOW REC)."},
};

// The column of the descriptions, as in the usage text; a longer name puts
// its description on the next line.
constexpr size_t kDescriptionColumn = 15;

// "[CONFIG] TRACE <keyword> <arguments>".
std::string categorySyntax(const TraceCategoryInfo& row) {
  return std::string("[CONFIG] TRACE ") + row.keyword + " " + row.arguments;
}

// The categories of the usage text, in their usage order.
void writeUsageCategories(Text::Output& stream) {
  std::vector<const TraceCategoryInfo*> shown;
  for (const TraceCategoryInfo& row : kTraceCategories) {
    if (row.usageRank > 0) shown.push_back(&row);
  }
  std::stable_sort(shown.begin(), shown.end(), [](auto a, auto b) { return a->usageRank < b->usageRank; });
  for (const TraceCategoryInfo* row : shown) {
    stream << "  " << categorySyntax(*row) << "\n    ";
    for (const char* c = row->help; *c != '\0'; ++c) stream << *c << (*c == '\n' ? "    " : "");
    stream << '\n';
  }
}

void writeFurtherRow(Text::Output& stream, const char*& section, const FurtherHelp& row) {
  const std::string indent(kDescriptionColumn, ' ');
  if (strcmp(section, row.section) != 0) {
    section = row.section;
    stream << '\n' << section << '\n';
  }
  const std::string name = std::string("  ") + row.name;
  if (name.size() + 1 > kDescriptionColumn) {
    stream << name << '\n' << indent;
  } else {
    stream << name << indent.substr(name.size());
  }
  for (const char* c = row.description; *c != '\0'; ++c) {
    stream << *c;
    if (*c == '\n') stream << indent;
  }
  stream << '\n';
}

void writeFurtherHelp(Text::Output& stream) {
  const char* section = "";
  for (const FurtherHelp& row : kFurtherOptions) writeFurtherRow(stream, section, row);
  for (const TraceCategoryInfo& row : kTraceCategories) {
    if (row.usageRank > 0) continue;
    const std::string name = categorySyntax(row);
    writeFurtherRow(stream, section, {"Further commands:", name.c_str(), row.help});
  }
  for (const FurtherHelp& row : kFurtherCommands) writeFurtherRow(stream, section, row);
}

}  // namespace

void Console::usage(Text::Output& stream) {
  stream << "Usage: nebrix_cons [options] command\n" << BuildInfo::VERSION << '\n';
  for (const char* line : kUsageOptions) stream << line << '\n';
  writeUsageCategories(stream);
  for (const char* line : kUsageCommands) stream << line << '\n';
  stream.flush();
}

void Console::help(Text::Output& stream) const {
  if (m_help == HELP_VERSION) {
    stream << "nebrix_cons " << BuildInfo::PROJECT_VERSION << Text::endl;
    return;
  }
  usage(stream);
  if (m_help == HELP_FULL) writeFurtherHelp(stream);
  stream.flush();
}

}  // namespace NEBRIX
