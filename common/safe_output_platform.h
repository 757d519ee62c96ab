#pragma once

// What the portable part of the safe output (safe_output.cc) asks of each
// platform's implementation. Not for callers.

#include "common/safe_output.h"

struct SafeOutputPlatform {
    static bool is_open(const SafeOutput& output);
    // Appends the range by the platform's fastest means; the arguments are
    // checked already.
    static OsStatus copy_range(SafeOutput& output, InputFile& source, int64_t offset, int64_t length);
    // The portable copy: positional reads into a bounded buffer, then writes.
    static OsStatus copy_by_blocks(SafeOutput& output, InputFile& source, int64_t offset,
                                   int64_t length);
    // Puts the complete file in place; the caller discards it on failure.
    static CommitResult put_in_place(SafeOutput& output);
    static void set_error(SafeOutput& output, int error) { output.error_ = error; }
};

// Lets an interrupt, termination or hang-up remove the named temporary being
// written before the program ends as the signal would have ended it. Called
// by init_process where the platform has such signals.
void safe_output_install_interrupt_cleanup();

// Whether new outputs are written as unnamed files, which a signal handler
// need not clean up; false where named temporaries are used.
bool safe_output_takes_unnamed_files();

// Gives the unnamed file `fd` the name `name` inside `directory_fd`, as a
// commit does when nothing stands there: 0, or -1 with errno (EEXIST when
// something does, which is left alone).
int safe_output_name_unnamed_file(int fd, int directory_fd, const std::string& name);
