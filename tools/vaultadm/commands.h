// The commands of vaultadm, each one call of the store's public interface.
// Results go to standard output; a failure prints the store's messages on
// standard error.
#pragma once

#include "command_line.h"

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
// A conversion finished, but encrypted records that no key opens are left.
constexpr int kExitRecordsUnreadable = 2;

// Runs the command on the store selectStore chose; returns the exit status.
int runCommand(const CommandLine& commandLine);

// The error of the first write of a secret to standard output that failed,
// or 0.
int lostOutputError();
