#pragma once

// What the unpacker shows besides the formatted lines ("files: %d", each
// entry's range and name, "unsafe file name in entry %d"): every message
// that ends a run, in one place, and the one function that words a failure.

#include "common/status.h"

inline constexpr const char* kNotPak = "It isn't PAK file";
inline constexpr const char* kBrokenPak = "broken PAK file";
inline constexpr const char* kSuccessful = "successful.";
inline constexpr const char* kEntryDone = "done.\n";

// An entry that could not be written. Its own line break ends the entry's
// line: a failure to read the archive is the archive's fault; one at the
// output is either the file that could not be opened or the file whose
// bytes could not be written.
inline const char* failure_text(const Status& status) {
    switch (status.failure) {
        case Failure::reading: return kBrokenPak;
        case Failure::writing:
        case Failure::naming: return "\nfile write error.";
        case Failure::none:
        case Failure::creating:
        case Failure::directory:
        case Failure::name_refused:
        case Failure::cannot_replace: break;
    }
    return "\nfile open error.";
}
