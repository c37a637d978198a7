#include "command_line.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "base/exception.h"
#include "hex_key.h"
#include "profile/user_profile.h"
#include "securestore/rsecssfs.h"

namespace {

const char kUsage[] =
    "Usage: vaultadm [-s SYSTEM -d DATAPATH -k KEYPATH] COMMAND [ARGUMENTS]\n"
    "       vaultadm -h\n"
    "\n"
    "Administers the secure file store.\n"
    "\n"
    "Commands:\n"
    "  list                        Show the data and key file, every active record (key,\n"
    "                              status, last update in UTC) and the number of active\n"
    "                              and deleted records.\n"
    "  get KEY                     Print the value of the record KEY.\n"
    "  put KEY VALUE [--plaintext]\n"
    "                              Store VALUE under KEY, encrypted unless --plaintext is\n"
    "                              given. A VALUE that begins with \"-\" follows \"--\".\n"
    "  put KEY --value-file FILE|- [--plaintext]\n"
    "                              The same with the value read from FILE or from standard\n"
    "                              input; one final line end is dropped.\n"
    "  delete KEY                  Delete the record KEY.\n"
    "  unlock                      Remove the lock that an update left behind when it ended\n"
    "                              abnormally. Only while no update runs.\n"
    "  migrate --old-key-file FILE|-\n"
    "                              Encrypt the records that only the old key opens with the\n"
    "                              current key again.\n"
    "  rekey [--new-key-file FILE|-] [--old-key-file FILE|-]\n"
    "                              Encrypt every record with a new key and write that key to\n"
    "                              the key file. Without --new-key-file a key is generated\n"
    "                              and printed once: KEEP IT in a safe place. If the key\n"
    "                              file is lost, only this key opens the records again.\n"
    "\n"
    "Store:\n"
    "  -s SYSTEM -d DATAPATH -k KEYPATH\n"
    "                              The data file DATAPATH/SSFS_SYSTEM.DAT and the key file\n"
    "                              KEYPATH/SSFS_SYSTEM.KEY; the three options go together.\n"
    "  Without them: the store that VXRSYSTEMNAME, RSEC_SSFS_DATAPATH and RSEC_SSFS_KEYPATH\n"
    "  name when one of them is set, else the console's store: system ORQ in the profile\n"
    "  directory ~/.orq/<host>.\n"
    "\n"
    "Keys are 24 bytes written as 48 hexadecimal digits. They are read from a file or, for\n"
    "\"-\", from standard input, and never accepted on the command line, where other users\n"
    "can see them.\n"
    "\n"
    "Exit status: 0 success; 1 failure; 2 a conversion finished, but encrypted records that\n"
    "no key opens are left.\n";

const char kKeyOnCommandLine[] =
    "Keys are not accepted on the command line, where other users of the machine can see "
    "them. Write the key into a file that only you can read and give the file name, or give "
    "\"-\" and enter the key on standard input.";

struct CommandName {
  const char* word;
  Command command;
};

const CommandName kCommands[] = {
    {"list", Command::List},     {"get", Command::Get},         {"put", Command::Put},
    {"delete", Command::Delete}, {"unlock", Command::Unlock},   {"migrate", Command::Migrate},
    {"rekey", Command::Rekey},
};

std::string lowerCase(std::string word) {
  for (char& c : word) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return word;
}

// An option that would carry a key itself, such as --key or --new-key=...;
// one that names a key file does not.
bool namesKey(const std::string& option) {
  const std::string name = lowerCase(option.substr(0, option.find('=')));
  const bool namesFile = name.size() >= 5 && name.compare(name.size() - 5, 5, "-file") == 0;
  return name.compare(0, 2, "--") == 0 && name.find("key") != std::string::npos && !namesFile;
}

bool parseStoreOptions(const std::vector<std::string>& words, size_t& next, CommandLine& line, bool& help,
                       std::string& error) {
  int timesGiven[3] = {0, 0, 0};  // -s, -d, -k
  for (; next < words.size() && words[next].size() > 1 && words[next][0] == '-'; ++next) {
    const std::string& option = words[next];
    if (option == "-h" || option == "--help") {
      help = true;
      return true;
    }
    const int index = option == "-s" ? 0 : option == "-d" ? 1 : option == "-k" ? 2 : -1;
    if (index < 0) {
      error = namesKey(option) ? kKeyOnCommandLine : "Unknown option " + option + ".";
      return false;
    }
    if (next + 1 == words.size()) {
      error = "Option " + option + " requires an argument.";
      return false;
    }
    std::string& target = index == 0 ? line.systemName : index == 1 ? line.dataPath : line.keyPath;
    target = words[++next];
    if (index == 2 && looksLikeKey(target)) {
      error = std::string("-k names the directory of the key file, not the key. ") + kKeyOnCommandLine;
      return false;
    }
    ++timesGiven[index];
  }
  line.explicitStore = timesGiven[0] + timesGiven[1] + timesGiven[2] > 0;
  if (line.explicitStore && !(timesGiven[0] == 1 && timesGiven[1] == 1 && timesGiven[2] == 1)) {
    error = "The options -s, -d and -k select a store together; give all three, once each.";
    return false;
  }
  return true;
}

// The options a command takes after its name. Each names the field it fills;
// options without argument fill none.
struct CommandOption {
  Command command;
  const char* name;
  std::string CommandLine::*file;
};

const CommandOption kCommandOptions[] = {
    {Command::Put, "--plaintext", nullptr},
    {Command::Put, "--value-file", &CommandLine::valueFile},
    {Command::Migrate, "--old-key-file", &CommandLine::oldKeyFile},
    {Command::Rekey, "--old-key-file", &CommandLine::oldKeyFile},
    {Command::Rekey, "--new-key-file", &CommandLine::newKeyFile},
};

// Reads one option (and its argument) of the command at words[next].
bool parseCommandOption(const std::vector<std::string>& words, size_t& next, const std::string& commandWord,
                        CommandLine& line, std::string& error) {
  const std::string& word = words[next];
  const size_t equals = word.find('=');
  const std::string name = word.substr(0, equals);
  for (const CommandOption& option : kCommandOptions) {
    if (option.command != line.command || name != option.name) continue;
    if (option.file == nullptr) {
      if (equals != std::string::npos) {
        error = "Option " + name + " takes no argument.";
        return false;
      }
      line.plaintext = true;
      return true;
    }
    std::string argument;
    if (equals != std::string::npos) {
      argument = word.substr(equals + 1);
    } else if (next + 1 < words.size()) {
      argument = words[++next];
    }
    if (option.file != &CommandLine::valueFile && looksLikeKey(argument)) {
      error = kKeyOnCommandLine;
    } else if (argument.empty()) {
      error = "Option " + name + " requires a file name, or \"-\" for standard input.";
    } else if (!(line.*option.file).empty()) {
      error = "Option " + name + " is given twice.";
    } else {
      line.*option.file = argument;
      return true;
    }
    return false;
  }
  error = namesKey(name) ? std::string(kKeyOnCommandLine) : "Unknown option " + name + " for " + commandWord + ".";
  return false;
}

// Checks the words that are no options against what the command needs.
bool takePositionals(const std::vector<std::string>& positionals, const std::string& commandWord,
                     CommandLine& line, std::string& error) {
  size_t wanted = 0;
  std::string synopsis = commandWord;
  switch (line.command) {
    case Command::Get:
    case Command::Delete:
      wanted = 1;
      synopsis += " KEY";
      break;
    case Command::Put:
      wanted = line.valueFile.empty() ? 2 : 1;
      synopsis += line.valueFile.empty() ? " KEY VALUE" : " KEY --value-file FILE|-";
      break;
    default:
      break;
  }
  if (positionals.size() > wanted) {
    const std::string& extra = positionals[wanted];
    const bool keyExpected = line.command == Command::Migrate || line.command == Command::Rekey;
    if (keyExpected && looksLikeKey(extra)) {
      error = kKeyOnCommandLine;
    } else if (line.command == Command::Put && !line.valueFile.empty()) {
      error = "Give the value either on the command line or with --value-file, not both.";
    } else {
      error = "Unexpected argument " + extra + " after " + commandWord + "; usage: vaultadm " + synopsis + ".";
    }
    return false;
  }
  if (positionals.size() < wanted) {
    error = "Missing argument; usage: vaultadm " + synopsis + ".";
    return false;
  }
  if (wanted >= 1) line.recordKey = positionals[0];
  if (wanted == 2) line.value = positionals[1];
  return true;
}

}  // namespace

const char* usageText() { return kUsage; }

bool parseCommandLine(const std::vector<std::string>& words, CommandLine& line, std::string& error) {
  line = CommandLine();
  size_t next = 0;
  bool help = false;
  if (!parseStoreOptions(words, next, line, help, error)) return false;
  if (help) return true;
  if (next == words.size()) {
    error = "No command given; vaultadm -h shows the commands.";
    return false;
  }
  const std::string commandWord = lowerCase(words[next++]);
  bool known = false;
  for (const CommandName& name : kCommands) {
    if (commandWord == name.word) {
      line.command = name.command;
      known = true;
    }
  }
  if (!known) {
    error = "Unknown command " + words[next - 1] + "; vaultadm -h shows the commands.";
    return false;
  }

  std::vector<std::string> positionals;
  bool optionsEnded = false;
  for (; next < words.size(); ++next) {
    const std::string& word = words[next];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (word == "-h" || word == "--help")) {
      line.command = Command::Help;
      return true;
    } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
      if (!parseCommandOption(words, next, commandWord, line, error)) return false;
    } else {
      positionals.push_back(word);
    }
  }
  if (!takePositionals(positionals, commandWord, line, error)) return false;
  if (line.command == Command::Migrate && line.oldKeyFile.empty()) {
    error = "migrate needs the old key: --old-key-file FILE, or --old-key-file - for standard input.";
    return false;
  }
  if (line.oldKeyFile == "-" && line.newKeyFile == "-") {
    error = "Only one key can come from standard input; give the other one in a file.";
    return false;
  }
  return true;
}

namespace {

bool isSetAndNotEmpty(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool selectStore(const CommandLine& line, std::string& error) {
  if (line.explicitStore) {
    MERO_RSecSSFsSetConfiguration(line.systemName.c_str(), line.dataPath.c_str(), line.keyPath.c_str());
    return true;
  }
  // The store reads the variables itself when nothing is set explicitly; an
  // incomplete set is its to report.
  if (isSetAndNotEmpty("VXRSYSTEMNAME") || isSetAndNotEmpty("RSEC_SSFS_DATAPATH") ||
      isSetAndNotEmpty("RSEC_SSFS_KEYPATH")) {
    return true;
  }
  std::string path;
  try {
    SecureStore::UserProfile::getUserProfilePath(path, "", false, false);
  } catch (const ltt::exception& ex) {
    std::ostringstream text;
    ex.expandAll(text);
    error = "Cannot find the profile directory: " + text.str();
    return false;
  }
  MERO_RSecSSFsSetConfiguration("ORQ", path.c_str(), path.c_str());
  return true;
}
