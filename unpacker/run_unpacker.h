#pragma once

#include "common/console.h"

// Exit statuses of the unpacker.
inline constexpr int kUnpackSucceeded = 0;
inline constexpr int kUnpackFailed = 1;     // any error ending, or an archive that cannot be opened
inline constexpr int kUnpackUsageError = 2; // not exactly one argument

// The whole unpacker between its entry point and its exit: checks the
// archive named by argv[1] completely, creates the directory named after it,
// writes every entry into it reporting each range and name, and pauses once
// at the end. Returns the exit status.
int run_unpacker(int argc, char** argv, Console& console);
