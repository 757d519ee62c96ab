#pragma once

#include <string>

#include "common/console.h"

// Writes a scrambled "_o_" copy beside every file matching `pattern` in
// `directory` (which ends in the separator) and, depth first, in every
// directory below it, reporting each file on the console. Returns true when
// every file was done, false when any got "error.".
bool walk_tree(const std::string& directory, const std::string& pattern, Console& console);
