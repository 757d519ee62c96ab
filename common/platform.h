#pragma once

// The little the two programs need from the operating system, by concept;
// each header has one signature per operation, and the -posix.cc and
// -win32.cc files that CMake picks implement them.

#include "common/code_page.h"   // names at the console and in archives
#include "common/directory.h"   // directory handles, listings, probing, making
#include "common/input_file.h"  // files read whole or by range
#include "common/name_rules.h"  // what file systems refuse or change in a name
#include "common/path.h"        // separators, splits and components
#include "common/process.h"     // arguments, start-up, the terminal
#include "common/status.h"      // what failed, and the system's code
