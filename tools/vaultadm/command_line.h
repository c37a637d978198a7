// The command line of vaultadm and the choice of the store it works on.
//
//   vaultadm [-s SYSTEM -d DATAPATH -k KEYPATH] COMMAND [ARGUMENTS]
//
// Store options come before the command, the command's own options after
// it. Keys never come from the command line: a word that looks like a key
// where a file is expected, or an option that would carry one, is refused.
#pragma once

#include <string>
#include <vector>

enum class Command { Help, List, Get, Put, Delete, Unlock, Compact, Migrate, Rekey };

struct CommandLine {
  Command command = Command::Help;
  std::string reply;  // Help: the help text or the version, for standard output

  // -s, -d and -k, all three or none.
  bool explicitStore = false;
  std::string systemName;
  std::string dataPath;
  std::string keyPath;
  // --give-files-to-owner: work on a store directory of another user, for
  // that user.
  bool giveFilesToOwner = false;

  std::string recordKey;   // get, put, delete
  std::string value;       // put, when given on the command line
  std::string valueFile;   // put --value-file: a file name or "-"; empty when not given
  bool plaintext = false;  // put --plaintext
  std::string oldKeyFile;  // migrate, rekey: a file name or "-"; empty when not given
  std::string newKeyFile;  // rekey; empty: a key is generated
};

// Fills `commandLine` from the words after the program name; -h, --help and
// --version give Command::Help with the text to print in `reply`. False with
// a message in `error` when the words are no valid command. The words are
// declared once, with CLI11, which also writes the help texts.
bool parseCommandLine(const std::vector<std::string>& words, CommandLine& commandLine, std::string& error);

// The help text of the whole program, as -h prints it.
std::string usageText();

// Points the store at the files the command works on: the explicit -s/-d/-k
// store; else the store that VXRSYSTEMNAME, RSEC_SSFS_DATAPATH and
// RSEC_SSFS_KEYPATH name (the store reads them itself); else the console's
// own store in the user's profile directory. A store directory that belongs
// to another user is refused (files created there would be ours, and lock
// its owner out of the store), unless --give-files-to-owner has the store
// give what it creates to the directory's owner. False with a message in
// `error` when the profile directory cannot be had or a directory is refused.
bool selectStore(const CommandLine& commandLine, std::string& error);
