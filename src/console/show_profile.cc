// SHOW PROFILE [DETAILS]: the counters client processes have written to their
// profile files (trace/counter_file.h): the files the running processes name
// in their published status, wherever each process put it (a relative name
// is taken in each one's working directory), and, when the configured
// profile file name is absolute, those in its directory under its name
// pattern, which includes the files of ended processes. SHOW PROFILE sums
// each counter over the processes, DETAILS lists them per process. Files
// that cannot be read or are not valid are skipped, and named with -v.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/text_output.h"
#include "console/console.h"
#include "console/json_output.h"
#include "profile/configuration.h"
#include "profile/user_profile.h"
#include "trace/client_status_files.h"
#include "trace/counter_file.h"

namespace NEBRIX {

namespace {

// Why a configured name has no absolute form, for which the configuration
// gives no text. A name such as the default is taken by each client process
// relative to its own working directory, which the console cannot know.
std::string whyNotAbsolute(const std::string& configured) {
  const bool fromHere = configured[0] == '.' && (configured[1] == '/' || configured[1] == '\\');
  return "\"" + configured + "\"" +
         (fromHere ? " cannot be made absolute: the working directory is unknown or too long"
                   : " is relative, so each client process writes it in its own working directory");
}

struct ProfileLocation {
  std::string configured;
  // The absolute name, split at its last "/" into the directory that is
  // searched and the pattern of the names searched for; all "" when the
  // configured name has no absolute form.
  std::string name;
  std::string directory;
  std::string pattern;
  std::string whyNotSearched;
  // The files the running processes named, sorted.
  std::vector<std::string> published;
};

// The profile files the running client processes of the calling user have
// named. None for another user's: their statuses are not ours to read.
std::vector<std::string> publishedProfileFiles(const char* user) {
  std::vector<std::string> files;
  std::string directory;
  try {
    if (user == nullptr) SecureStore::UserProfile::getUserProfilePath(directory, "", false, false);
  } catch (const ltt::exception&) {
    return files;  // the configuration calls have said why
  }
  if (directory.empty()) return files;
  for (const ClientStatus& status : readClientStatuses(directory, Configuration::NEBRIX_COMPONENT)) {
    if (!status.profileFile.empty() && status.profileState != ClientStatus::PROFILE_NONE) {
      files.push_back(status.profileFile);
    }
  }
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  return files;
}

NEBRIX_Retcode readProfileLocation(const char* user, ProfileLocation& location) {
  char configured[1024] = "";
  char filename[1024] = "";
  char errortext[512] = "";
  if (Configuration::getProfileFileName(user, Configuration::NEBRIX_COMPONENT, nullptr, configured, sizeof configured,
                                        errortext, sizeof errortext) != NEBRIX_OK) {
    return reportConfigurationError("Error getting profile file name", errortext);
  }
  location.configured = configured;
  location.published = publishedProfileFiles(user);
  if (Configuration::getFullFileName(user, Configuration::NEBRIX_COMPONENT, nullptr, configured, filename,
                                     sizeof filename, errortext, sizeof errortext) != NEBRIX_OK) {
    location.whyNotSearched = whyNotAbsolute(configured);
    return NEBRIX_OK;
  }
  location.name = filename;
  const size_t slash = location.name.rfind('/');
  location.directory = slash == std::string::npos ? "" : location.name.substr(0, slash);
  location.pattern = slash == std::string::npos ? location.name : location.name.substr(slash + 1);
  return NEBRIX_OK;
}

// The valid profile files, by pid (files of one pid by path), each with its
// counters by name. A file both published and found by the pattern is read
// once.
std::vector<ProcessCounters> readCounterFiles(const ProfileLocation& location, bool verbose) {
  std::vector<std::string> paths = location.published;
  if (!location.name.empty()) {
    for (const std::string& path : findCounterFiles(location.directory, location.pattern)) paths.push_back(path);
  }
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  std::vector<ProcessCounters> processes;
  for (const std::string& path : paths) {
    ProcessCounters data{};
    std::string problem;
    if (readCounterFile(path, data, problem)) {
      processes.push_back(std::move(data));
    } else if (verbose) {
      Text::err << "Warning: Profile file " << path << " skipped: " << problem << "." << Text::endl;
    }
  }
  std::stable_sort(processes.begin(), processes.end(),
                   [](const ProcessCounters& a, const ProcessCounters& b) { return a.pid < b.pid; });
  for (ProcessCounters& process : processes) {
    std::sort(process.counters.begin(), process.counters.end(),
              [](const NamedCounter& a, const NamedCounter& b) { return a.name < b.name; });
  }
  return processes;
}

struct CounterSum {
  std::string name;
  int64_t value;
  bool clamped;  // the true sum lies beyond `value`, the 64-bit limit
};

// Each counter summed over the processes, by name. The sum is exact in 128
// bits (no number of files comes near to overflowing it) and clamped to the
// 64-bit range only when it is shown.
std::vector<CounterSum> sumCounters(const std::vector<ProcessCounters>& processes) {
  std::map<std::string, __int128> sums;
  for (const ProcessCounters& process : processes) {
    for (const NamedCounter& counter : process.counters) sums[counter.name] += counter.value;
  }
  std::vector<CounterSum> result;
  for (const auto& [name, sum] : sums) {
    const int64_t value = static_cast<int64_t>(std::clamp<__int128>(sum, INT64_MIN, INT64_MAX));
    result.push_back({name, value, value != sum});
  }
  return result;
}

// A clamped sum is marked by the side it lies on: ">9223372036854775807".
std::string shownSum(const CounterSum& sum) {
  return (sum.clamped ? (sum.value > 0 ? ">" : "<") : "") + std::to_string(sum.value);
}

// A table in the style of the other SHOW commands: a header, a dashed line,
// and each column as wide as its widest cell; numbers right-aligned.
struct Column {
  const char* title;
  bool rightAligned;
};

void printTable(const std::vector<Column>& columns, const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const Column& column : columns) widths.push_back(std::string(column.title).size());
  for (const auto& row : rows) {
    for (size_t i = 0; i < columns.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  auto printRow = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < columns.size(); ++i) {
      const std::string padding(widths[i] - cells[i].size(), ' ');
      line += "  " + (columns[i].rightAligned ? padding + cells[i] : cells[i] + padding);
    }
    // The last column is a number, so no blanks trail.
    Text::out << line << "\n";
  };
  std::vector<std::string> titles;
  for (const Column& column : columns) titles.push_back(column.title);
  printRow(titles);
  size_t total = 2 * (columns.size() - 1);
  for (size_t width : widths) total += width;
  Text::out << "  " << std::string(total, '-') << "\n";
  for (const auto& row : rows) printRow(row);
}

void printSums(const std::vector<ProcessCounters>& processes) {
  std::vector<std::vector<std::string>> rows;
  for (const CounterSum& sum : sumCounters(processes)) rows.push_back({sum.name, shownSum(sum)});
  printTable({{"Counter", false}, {"Value", true}}, rows);
}

void printDetails(const std::vector<ProcessCounters>& processes) {
  std::vector<std::vector<std::string>> rows;
  for (const ProcessCounters& process : processes) {
    for (const NamedCounter& counter : process.counters) {
      rows.push_back({std::to_string(process.pid), counter.name, std::to_string(counter.value)});
    }
  }
  printTable({{"Process", true}, {"Counter", false}, {"Value", true}}, rows);
}

// Counter names are printable ASCII, valid JSON text as they are.
nlohmann::json countersJson(const std::vector<NamedCounter>& counters) {
  nlohmann::json list = nlohmann::json::array();
  for (const NamedCounter& counter : counters) list.push_back({{"name", counter.name}, {"value", counter.value}});
  return list;
}

}  // namespace

NEBRIX_Retcode Console::showProfile(bool showDetails) {
  ProfileLocation location;
  if (readProfileLocation(m_user, location) != NEBRIX_OK) return NEBRIX_NOT_OK;
  if (m_verbose && location.name.empty()) {
    Text::out << "\nsearch path: none, " << location.whyNotSearched << "\n";
  } else if (m_verbose) {
    Text::out << "\nsearch path:" << location.directory << "\n\nsearch name pattern:" << location.pattern << "\n";
  }
  if (m_verbose && !location.published.empty()) {
    Text::out << "\nfiles named by running processes:\n";
    for (const std::string& path : location.published) Text::out << "  " << path << "\n";
  }
  const std::vector<ProcessCounters> processes = readCounterFiles(location, m_verbose);
  if (processes.empty()) {
    Text::out << "no profile data found." << Text::endl;
    return NEBRIX_OK;
  }
  Text::out << "\nProfile of " << processes.size() << (processes.size() == 1 ? " process:\n" : " processes:\n");
  if (showDetails) {
    printDetails(processes);
  } else {
    printSums(processes);
  }
  Text::out.flush();
  return NEBRIX_OK;
}

// The location is given with and without -v; the sums always, the
// processes with DETAILS.
NEBRIX_Retcode Console::profileJson(nlohmann::json& document) {
  ProfileLocation location;
  if (readProfileLocation(m_user, location) != NEBRIX_OK) return NEBRIX_NOT_OK;
  nlohmann::json profile = {{"search_path", nullptr}, {"search_name_pattern", nullptr}};
  putText(profile, "profile_file_name", location.name.empty() ? location.configured : location.name);
  if (!location.name.empty()) {
    putText(profile, "search_path", location.directory);
    putText(profile, "search_name_pattern", location.pattern);
  }
  profile["published_files"] = nlohmann::json::array();
  for (const std::string& path : location.published) {
    nlohmann::json file;
    putText(file, "path", path);
    profile["published_files"].push_back(file);
  }
  const std::vector<ProcessCounters> processes = readCounterFiles(location, m_verbose);
  profile["process_count"] = processes.size();
  profile["counters"] = nlohmann::json::array();
  for (const CounterSum& sum : sumCounters(processes)) {
    profile["counters"].push_back({{"name", sum.name}, {"value", sum.value}, {"clamped", sum.clamped}});
  }
  if (m_command.action == Action::SHOW_PROFILE_DETAILS) {
    profile["processes"] = nlohmann::json::array();
    for (const ProcessCounters& data : processes) {
      profile["processes"].push_back({{"pid", data.pid}, {"counters", countersJson(data.counters)}});
    }
  }
  document["profile"] = profile;
  return NEBRIX_OK;
}

}  // namespace NEBRIX
