#pragma once

// What the scrambler shows besides the formatted lines ("%s ..." for each
// file): every message, in one place, and the one function that words a
// failure.

#include "common/status.h"

inline constexpr const char* kDirectoryOpenError = "directory open error.";
inline constexpr const char* kNotADirectory = "It isn't directory.";
inline constexpr const char* kStartPrompt = "press enter to start...";
inline constexpr const char* kSuccessful = "successful.";

// The end of a file's line: whatever failed on one file, the scrambler
// reports "error." and goes on with the next.
inline const char* file_result_text(const Status& status) { return status ? "done.\n" : "error.\n"; }
