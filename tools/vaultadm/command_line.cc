#include "command_line.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "base/exception.h"
#include "hex_key.h"
#include "profile/user_profile.h"
#include "securestore/rsecssfs.h"

namespace {

const char kKeyOnCommandLine[] =
    "Keys are not accepted on the command line, where other users of the machine can see "
    "them. Write the key into a file that only you can read and give the file name, or give "
    "\"-\" and enter the key on standard input.";

const char kDescription[] = "Administers the secure file store.";

const char kSeeHelp[] = "; vaultadm -h shows the commands.";

const char kFooter[] =
    "Without -s, -d and -k: the store that VXRSYSTEMNAME, RSEC_SSFS_DATAPATH and\n"
    "RSEC_SSFS_KEYPATH name when one of them is set, else the console's store: system\n"
    "ORQ in the profile directory ~/.orq/<host>. A store directory of another user is\n"
    "refused: run vaultadm as that user, or give --give-files-to-owner.\n"
    "\n"
    "Keys are 24 bytes written as 48 hexadecimal digits. They are read from a file or, for\n"
    "\"-\", from standard input, and never accepted on the command line, where other users\n"
    "can see them.\n"
    "\n"
    "Exit status: 0 success; 1 failure; 2 a conversion finished, but encrypted records that\n"
    "no key opens are left.\n"
    "\n"
    "vaultadm COMMAND -h shows the arguments and options of a command.";

// A command line that breaks one of vaultadm's own rules; the text is the
// message. Thrown from the checks of option values, it passes through the
// parser unchanged.
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
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

// The check of an option that names a file or "-": a key file's name is
// never the key itself.
std::function<void(const std::string&)> fileName(bool keyFile) {
  return [keyFile](const std::string& name) {
    if (keyFile && looksLikeKey(name)) throw Refusal(kKeyOnCommandLine);
    if (name.empty()) throw Refusal("A file name is required, or \"-\" for standard input.");
  };
}

// The help text puts the usage line first; the list of commands shows each
// command with its arguments and options, as declared.
class HelpFormat : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    return make_usage(app, name) + "\n" + make_description(app) + make_positionals(app) + make_groups(app, mode) +
           make_subcommands(app, mode) + "\n" + make_footer(app);
  }

  std::string make_subcommand(const CLI::App* command) const override {
    std::string synopsis = command->get_name();
    for (const CLI::Option* option : command->get_options()) {
      if (option == command->get_help_ptr()) continue;
      std::string word = option->get_name(option->get_positional());
      if (!option->get_positional() && !option->get_type_name().empty()) word += " " + option->get_type_name();
      synopsis += option->get_required() ? " " + word : " [" + word + "]";
    }
    std::ostringstream text;
    CLI::detail::format_help(text, synopsis, command->get_description(), get_column_width());
    return text.str();
  }
};

// The whole command line of vaultadm: store options, commands, their
// arguments and options, and the help text of each.
void declare(CLI::App& app, CommandLine& line) {
  auto format = std::make_shared<HelpFormat>();
  format->label("OPTIONS", "-s SYSTEM -d DATAPATH -k KEYPATH");
  format->label("SUBCOMMAND", "COMMAND [ARGUMENTS]");
  app.formatter(format);
  app.set_help_flag("-h,--help", "Print this help and exit.");
  app.set_version_flag("--version", "vaultadm " VAULTADM_VERSION, "Print the version and exit.");
  app.require_subcommand(1);
  app.ignore_case();  // of the command words
  const auto once = CLI::MultiOptionPolicy::TakeLast;  // counted by parseCommandLine
  app.add_option("-s", line.systemName,
                 "The store's name: data file DATAPATH/SSFS_SYSTEM.DAT and\n"
                 "key file KEYPATH/SSFS_SYSTEM.KEY. -s, -d and -k go together.")
      ->type_name("SYSTEM")
      ->multi_option_policy(once);
  app.add_option("-d", line.dataPath, "The directory of the data file.")
      ->type_name("DATAPATH")
      ->multi_option_policy(once);
  app.add_option("-k", line.keyPath, "The directory of the key file, not the key.")
      ->type_name("KEYPATH")
      ->multi_option_policy(once)
      ->each([](const std::string& path) {
        if (looksLikeKey(path)) {
          throw Refusal(std::string("-k names the directory of the key file, not the key. ") + kKeyOnCommandLine);
        }
      });

  app.add_flag("--give-files-to-owner", line.giveFilesToOwner,
               "Work on a store directory of another user for that user:\n"
               "the files created there go to the directory's owner.");

  // Each command's own help shows plain usage labels.
  auto commandFormat = std::make_shared<HelpFormat>();
  commandFormat->label("Positionals", "Arguments");
  const auto command = [&](const char* name, Command code, const char* description) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->formatter(commandFormat);
    sub->group("Commands");
    sub->callback([&line, code] { line.command = code; });
    return sub;
  };
  const auto recordKey = [&](CLI::App* sub) {
    sub->add_option("KEY", line.recordKey, "The record's key, such as ORQ/APP/TOKEN.")->type_name("")->required();
  };
  command("list", Command::List,
          "Show the data and key file, every active record (key,\n"
          "status, last update in UTC) and the number of active\n"
          "and deleted records.");
  recordKey(command("get", Command::Get, "Print the value of the record KEY."));
  CLI::App* put = command("put", Command::Put,
                          "Store VALUE under KEY, encrypted unless --plaintext is\n"
                          "given. A VALUE that begins with \"-\" follows \"--\". With\n"
                          "--value-file the value is read from FILE or from standard\n"
                          "input; one final line end is dropped.");
  recordKey(put);
  put->add_option("VALUE", line.value, "The value; a secret one is better read with --value-file.")->type_name("");
  put->add_flag("--plaintext", line.plaintext, "Store the value unencrypted.");
  put->add_option("--value-file", line.valueFile, "Read the value from FILE, or from standard input for \"-\".")
      ->type_name("FILE|-")
      ->each(fileName(false));
  recordKey(command("delete", Command::Delete, "Delete the record KEY."));
  command("unlock", Command::Unlock,
          "Remove the lock that an update left behind when it ended\n"
          "abnormally. Only while no update runs.");
  command("compact", Command::Compact,
          "Drop the deleted records from the data file and show its\n"
          "size and records before and after. Updates do this on their\n"
          "own once deleted records fill most of a file above 64 KiB.");
  const char* const oldKeyHelp = "Read the old key from FILE, or from standard input for \"-\".";
  command("migrate", Command::Migrate,
          "Encrypt the records that only the old key opens with the\n"
          "current key again.")
      ->add_option("--old-key-file", line.oldKeyFile, oldKeyHelp)
      ->type_name("FILE|-")
      ->required()
      ->each(fileName(true));
  CLI::App* rekey = command("rekey", Command::Rekey,
                            "Encrypt every record with a new key and write that key to\n"
                            "the key file. Without --new-key-file a key is generated\n"
                            "and printed once: KEEP IT in a safe place. If the key\n"
                            "file is lost, only this key opens the records again.");
  rekey->add_option("--new-key-file", line.newKeyFile, "Read the new key from FILE, or from standard input for \"-\".")
      ->type_name("FILE|-")
      ->each(fileName(true));
  rekey->add_option("--old-key-file", line.oldKeyFile, oldKeyHelp)->type_name("FILE|-")->each(fileName(true));
  app.footer(kFooter);
}

// What the parser's own message would be, unless it would show something
// that looks like a key, or the words it could not place name one.
std::string describeParseError(const CLI::App& app, const CLI::ParseError& failure,
                               const std::vector<std::string>& words) {
  const std::vector<std::string> unplaced = app.remaining(true);
  for (const std::string& word : unplaced) {
    if (namesKey(word) || looksLikeKey(word)) return kKeyOnCommandLine;
  }
  const std::string message = failure.what();
  for (const std::string& word : words) {
    if (looksLikeKey(word) && message.find(word) != std::string::npos) return kKeyOnCommandLine;
  }
  if (app.get_subcommands().empty() && !unplaced.empty()) {
    if (unplaced[0][0] == '-') return "Unknown option " + unplaced[0] + ".";
    return "Unknown command " + unplaced[0] + kSeeHelp;
  }
  if (dynamic_cast<const CLI::RequiredError*>(&failure) != nullptr && app.get_subcommands().empty()) {
    return std::string("No command given") + kSeeHelp;
  }
  return message + ".";
}

// The rules the declaration cannot say.
bool checkCombinations(const CLI::App& app, const CommandLine& line, std::string& error) {
  const bool valueGiven = app.get_subcommand("put")->count("VALUE") != 0;
  if (line.explicitStore && !(app.count("-s") == 1 && app.count("-d") == 1 && app.count("-k") == 1)) {
    error = "The options -s, -d and -k select a store together; give all three, once each.";
  } else if (line.command == Command::Put && line.valueFile.empty() != valueGiven) {
    error = line.valueFile.empty() ? "put needs a value: VALUE, or --value-file FILE|-."
                                   : "Give the value either on the command line or with --value-file, not both.";
  } else if (line.oldKeyFile == "-" && line.newKeyFile == "-") {
    error = "Only one key can come from standard input; give the other one in a file.";
  }
  return error.empty();
}

}  // namespace

std::string usageText() {
  CommandLine line;
  CLI::App app(kDescription, "vaultadm");
  declare(app, line);
  return app.help();
}

bool parseCommandLine(const std::vector<std::string>& words, CommandLine& line, std::string& error) {
  line = CommandLine();
  CLI::App app(kDescription, "vaultadm");
  declare(app, line);
  try {
    app.parse(std::vector<std::string>(words.rbegin(), words.rend()));
  } catch (const CLI::CallForHelp&) {
    line.command = Command::Help;
    line.reply = app.help();
    return true;
  } catch (const CLI::CallForVersion& request) {
    line.command = Command::Help;
    line.reply = std::string(request.what()) + "\n";
    return true;
  } catch (const CLI::ParseError& failure) {
    error = describeParseError(app, failure, words);
    return false;
  } catch (const Refusal& refusal) {
    error = refusal.what();
    return false;
  }
  line.explicitStore = app.count("-s") + app.count("-d") + app.count("-k") > 0;
  return checkCombinations(app, line, error);
}

namespace {

bool isSetAndNotEmpty(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0';
}

// "user <name>", or "uid <n>" for a user the user database does not know.
std::string userName(uid_t uid) {
  const struct passwd* entry = getpwuid(uid);
  return entry != nullptr ? std::string("user ") + entry->pw_name : "uid " + std::to_string(uid);
}

// How to run vaultadm as the user `uid`.
std::string runAs(uid_t uid) {
  const struct passwd* entry = getpwuid(uid);
  if (entry == nullptr) return "sudo -u '#" + std::to_string(uid) + "' vaultadm ...";
  const std::string name = entry->pw_name;
  return "sudo -u " + name + " vaultadm ..., or su " + name + " -c 'vaultadm ...'";
}

// Files that root creates in a user's store directory would be root's, and
// the user's every later command would fail on them. A directory that does
// not exist (yet) is the store's to report.
bool acceptOwners(const std::vector<std::string>& directories, bool giveFilesToOwner, std::string& error) {
  for (const std::string& directory : directories) {
    struct stat status;
    if (giveFilesToOwner || stat(directory.c_str(), &status) != 0 || status.st_uid == geteuid()) continue;
    const std::string owner = userName(status.st_uid), me = userName(geteuid());
    error = "The store directory \"" + directory + "\" belongs to " + owner + ", not to " + me +
            ": files that vaultadm created there would belong to " + me +
            " and lock the directory's owner out of the store. Run vaultadm as that user (" + runAs(status.st_uid) +
            "), or give --give-files-to-owner to have the files it creates belong to " + owner + ".";
    return false;
  }
  return true;
}

}  // namespace

bool selectStore(const CommandLine& line, std::string& error) {
  RSecSSFsGiveNewFilesToDirectoryOwner(line.giveFilesToOwner);
  if (line.explicitStore) {
    MERO_RSecSSFsSetConfiguration(line.systemName.c_str(), line.dataPath.c_str(), line.keyPath.c_str());
    return acceptOwners({line.dataPath, line.keyPath}, line.giveFilesToOwner, error);
  }
  // The store reads the variables itself when nothing is set explicitly; an
  // incomplete set is its to report.
  if (isSetAndNotEmpty("VXRSYSTEMNAME") || isSetAndNotEmpty("RSEC_SSFS_DATAPATH") ||
      isSetAndNotEmpty("RSEC_SSFS_KEYPATH")) {
    std::vector<std::string> directories;
    for (const char* name : {"RSEC_SSFS_DATAPATH", "RSEC_SSFS_KEYPATH"}) {
      if (isSetAndNotEmpty(name)) directories.push_back(getenv(name));
    }
    return acceptOwners(directories, line.giveFilesToOwner, error);
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
