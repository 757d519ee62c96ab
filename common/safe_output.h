#pragma once

// The safe output: the one way either program writes a file. A file is
// written where no one can see it half done, and appears under its final
// name only when complete, so a crash, a full disk or a failed read never
// leaves a partial file under that name, and whatever stood there before
// survives every failure. Three ways, one contract:
//  - Linux with /proc: an unnamed file (O_TMPFILE) in the target directory,
//    linked under its final name when complete; a crash leaves nothing. A
//    small file written right after one in its folder replaced another is
//    written the second way instead (see safe_output_open).
//  - other POSIX systems, and Linux file systems without unnamed files: a
//    temporary created exclusively beside the final name and renamed over
//    it; a signal that ends the program removes it first (see
//    safe_output_install_interrupt_cleanup).
//  - Windows: a temporary created marked delete-on-close, so even a killed
//    process leaves nothing, given its final name as a hard link when
//    complete, the mark still on (renamed by handle where links are missing).
// Nothing is ever written through a link: a link at the final name is
// replaced, a linked subdirectory refused. A file at the final name that the
// user may not write, or a directory there, is not replaced. A replaced file
// carries over what the old one carried, as writing into it would have kept
// it, and never a privilege: its permission bits less setuid, setgid and
// sticky, its owner and group where the process may set them (else the
// runner's, with the group given no more than others have), its ACL and
// its users' extended attributes, all read through the old file opened
// once; where its ACL cannot be carried over, it is not replaced
// (Failure::cannot_replace). Nor is a file in a folder that lets the user
// add files but not remove others' (sticky). ACLs and extended attributes
// are Linux's only: on other POSIX systems a replaced file keeps its bits,
// owner and group and loses any ACL or attributes, and a copy gets no ACL.
// A name is always below the directory: an absolute one, or one with a
// "." or ".." component, is refused.
//
// The calling sequence, one file at a time:
//     SafeOutput output;
//     safe_output_open(output, directory, name, prefix, permissions);
//     safe_output_write(...) or safe_output_copy_from(...), as often as needed;
//     safe_output_commit(output);
// Each call returns a Status. At the first failure the file is already
// discarded (closed and removed, nothing left under any name) and the
// caller simply hands the status on; every later call fails too. An output
// dropped without a commit is discarded by its destructor. Every failure
// each call returns, one line per platform (POSIX, Windows):
//   open      POSIX    Failure::directory      the directory is not open, or a subdirectory
//                                              on the way is missing or a link
//   open      POSIX    Failure::name_refused   the name is empty, absolute, holds a "." or
//                                              ".." component, or ends in a separator
//   open      POSIX    Failure::creating       the temporary could not be made, or not
//                                              narrowed to a copy's source (its ACL, group
//                                              or bits)
//   open      Windows  Failure::directory      the directory is not open, or a subdirectory
//                                              on the way is missing, a link or a junction
//   open      Windows  Failure::name_refused   the name is empty, ends in a separator, is
//                                              absolute, holds a "." or ".." component or a
//                                              colon, or cannot be stored as given (a device
//                                              name, <>"|?*, a trailing dot or blank)
//   open      Windows  Failure::cannot_replace a directory, a read-only file, or a file stored
//                                              under another long name stands at the final
//                                              name, or the protection of the file there
//                                              cannot be read; it is untouched
//   open      Windows  Failure::creating       the temporary could not be made, or a copy's
//                                              source's protection could not be read
//   write     POSIX    Failure::writing        a write error, or a write that took nothing
//   write     Windows  Failure::writing        a write error, or a write that took nothing
//   copy_from POSIX    Failure::reading        the source could not be read or ended early
//   copy_from POSIX    Failure::writing        as for write
//   copy_from Windows  Failure::reading        the source could not be read or ended early
//   copy_from Windows  Failure::writing        as for write
//   commit    POSIX    Failure::cannot_replace a directory, or a file the user may not write
//                                              or whose protection cannot be carried over,
//                                              stands at the final name; it is untouched
//   commit    POSIX    Failure::writing        closing the file reported that its bytes did
//                                              not all reach the disk
//   commit    POSIX    Failure::naming         the file could not be put under its name, or
//                                              given the bits its folder gives new files
//   commit    Windows  Failure::cannot_replace a directory or a read-only file stands at the
//                                              final name; it is untouched
//   commit    Windows  Failure::writing        where the volume has no hard links, the bytes
//                                              could not be copied into a file that can be named
//   commit    Windows  Failure::naming         the file could not be put under its name (that
//                                              copy's temporary not made included)

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/directory.h"
#include "common/input_file.h"
#include "common/status.h"

// The platform's own part of one file being written
// (safe_output_state-posix.h, safe_output_state-win32.h): callers never
// look inside.
struct SafeOutputState;

// One file being written, owned and closed by it.
struct SafeOutput {
    SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;
    // Discards what is not committed.
    ~SafeOutput();
    std::unique_ptr<SafeOutputState> state;
};

// Starts a file to be put at `relative_name` inside `directory`.
// `relative_name` may hold subdirectories (separated as path.h says); none is
// created. A temporary that needs a name gets one beginning with
// `temp_prefix`. A new file gets at most `permissions` (less what the user's
// umask takes away, where the platform has both); a file it replaces keeps
// its own. `expected_size`, where the caller knows it, is the number of
// bytes it will write: on POSIX a file of at most kSmallOutputBytes, in a
// folder the runner owns whose last file replaced one, is made under its
// temporary name from the start (sparing the unnamed file's linking under
// one), with nothing for its group or others until commit gives it its
// bits, whether it replaces a file itself or not.
Status safe_output_open(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                        const char* temp_prefix, unsigned permissions = 0666, int64_t expected_size = -1);

// The largest file safe_output_open makes under a temporary name from the
// start: one written in a few calls, so that the moment in which a SIGKILL
// leaves its temporary behind stays a few calls wide.
inline constexpr int64_t kSmallOutputBytes = int64_t{64} * 1024;

// As safe_output_open, for a copy of `source` that is never more open than
// it: a new file gets at most the source's permission bits, the source's
// ACL (Linux), the source's group where the process may set it (read back
// from the file, wherever the folder decides it), and no ACL inherited
// from the folder; on Windows the source's DACL instead of the
// folder's inherited protection. An old copy at the name is replaced as
// safe_output.h says only where it has the source's owner; one that someone
// else owns (planted beside a private file, say) is replaced by a new copy,
// owned by the runner and no more open than the source, as if none stood
// there: otherwise whoever made it would be handed the source's bytes.
// The source's size is the copy's `expected_size` (safe_output_open).
Status safe_output_open_copy(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                             const char* temp_prefix, const InputFile& source);

Status safe_output_write(SafeOutput& output, const void* data, size_t length);

// Appends `length` bytes of `source` starting at `offset`, by the fastest
// means the platform has.
Status safe_output_copy_from(SafeOutput& output, InputFile& source, int64_t offset, int64_t length);

// Puts the complete file under its final name, replacing a file or a link
// that stands there.
Status safe_output_commit(SafeOutput& output);

// Closes and removes the file being written. Harmless when nothing is open.
void safe_output_discard(SafeOutput& output);

// Called once at the program's start (program_main): where temporaries have
// names, every signal that would end the program removes the one being
// written first, then ends the program as the signal would have. Signals
// ignored at start stay ignored.
void safe_output_install_interrupt_cleanup();
