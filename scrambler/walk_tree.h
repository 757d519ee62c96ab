#pragma once

#include <string>

#include "common/console.h"
#include "common/platform.h"

// Writes a scrambled "_o_" copy beside every file matching `pattern` in the
// directory at `directory` and, depth first, in every directory below it,
// reporting each file on the console. The tree is walked through open
// directory handles, so no name renamed or swapped for a link meanwhile can
// lead the walk anywhere else; links and junctions are never walked.
// Returns true when every file was done and every directory could be
// walked, false when any file got "error." or any directory was passed over.
bool walk_tree(const std::string& directory, const std::string& pattern, Console& console);

// The same for a directory already open: the driver opens the top once and
// holds it for all three walks, so it too cannot be swapped between them.
bool walk_tree(const DirectoryHandle& directory, const std::string& pattern, Console& console);

// For tests: called with the name of a subdirectory or of a matching file
// just before the walk opens it (a file's line already printed), so a test
// can change the tree or look at the console at that moment. Null by default.
using WalkHook = void (*)(const std::string& subdirectory_name);
void set_walk_hook(WalkHook hook);
