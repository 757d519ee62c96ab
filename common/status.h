#pragma once

// What every operation that can fail returns: what failed, and the system's
// own code for it, carried unchanged from the failing call up to the one
// place in each program that words it for the console.

#include <cstdint>

enum class Failure : uint8_t {
    none,
    reading,         // the source file or the archive: a read error, or it ended early
    creating,        // a new file or directory could not be made
    writing,         // the bytes could not all be written
    naming,          // the finished file could not be put under its name
    directory,       // a directory on the way is missing, not open, or refused (a link)
    name_refused,    // the name itself cannot be stored as a file
    cannot_replace,  // a directory, or a file the user may not write, stands at the name
};

struct Status {
    Failure failure = Failure::none;
    // errno, or GetLastError() on Windows; 0 where the system reported no
    // error (a file that ended early, a write that took nothing).
    int code = 0;
    explicit operator bool() const { return failure == Failure::none; }
};

inline constexpr Status kSucceeded{};

inline Status failed(Failure what, int code) { return Status{what, code}; }

// `what`, with the system's code for the call just made.
Status last_failure(Failure what);
