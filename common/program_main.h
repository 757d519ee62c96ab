#pragma once

#include "common/console.h"

// A program's whole logic between its entry point and its exit status.
using ProgramDriver = int (*)(int argc, char** argv, Console& console);

// What each program's entry point does around its driver: sets up the
// process and the clean-up of a temporary when a signal ends it, hands the
// driver the arguments as paths and the real console, and, should memory
// ever run out, ends with a message, the pause and status 1 rather than an
// abort (what was being written is discarded on the way out). Standard
// output that could not all be written makes a status of 0 into 1.
int program_main(int argc, char** argv, ProgramDriver driver);
