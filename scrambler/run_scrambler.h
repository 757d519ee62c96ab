#pragma once

#include "common/console.h"

// The scrambler from its argument vector to its exit status: 0 when every
// file was done, 1 when any file failed or the argument was refused, 2 for a
// wrong number of arguments.
int run_scrambler(int argc, char** argv, Console& console);
