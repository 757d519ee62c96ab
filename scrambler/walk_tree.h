#pragma once

#include <string>

#include "common/console.h"
#include "common/directory.h"
#include "common/durability.h"

// Writes a scrambled copy (kCopyPrefix + its name) beside every file matching `pattern` in
// `directory` and, depth first, in every directory below it,
// reporting each file on the console. The tree is walked through open
// directory handles, so no name renamed or swapped for a link meanwhile can
// lead the walk anywhere else; links and junctions are never walked.
// Returns true when every file was done and every directory could be
// walked, false when any file got "error." or any directory was passed over.
// The driver opens the top once and holds it for the walk of every kind of
// file, so it cannot be swapped between them. Every folder the walk wrote a
// copy into is noted in `written`, for the driver to flush once at the end.
bool walk_tree(const DirectoryHandle& directory, const std::string& pattern, Console& console,
               WrittenFileSystems& written);
