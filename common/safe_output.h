#pragma once

// The safe output: a file is written where no one can see it half done, and
// appears under its final name only when complete, so a crash, a full disk or
// a failed read never leaves a partial file under that name, and whatever
// stood there before survives every failure. Three ways, one contract:
//  - Linux with /proc: an unnamed file (O_TMPFILE) in the target directory,
//    linked under its final name when complete; a crash leaves nothing.
//  - other POSIX systems, and Linux file systems without unnamed files: a
//    temporary created exclusively beside the final name and renamed over
//    it; an interrupt or hang-up removes it (see init_process).
//  - Windows: a temporary created marked delete-on-close, so even a killed
//    process leaves nothing, given its final name as a hard link when
//    complete, the mark still on (renamed by handle where links are missing).
// Nothing is ever written through a link: a link at the final name is
// replaced, a linked subdirectory refused. A file at the final name that the
// user may not write, or a directory there, is not replaced. A replaced file
// keeps its permission bits.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/platform.h"

enum class CommitResult {
    committed,
    // A directory, or a file the user may not write, stands at the final
    // name: to the user, a file that could not be opened. Nothing changed.
    cannot_replace,
    failed,
};

struct SafeOutput {
    SafeOutput() = default;
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;
    // Discards what is not committed.
    ~SafeOutput();

    // The system's code for the last failure, 0 when there was none.
    int error() const { return error_; }

   private:
    friend OsStatus safe_output_open(SafeOutput&, const DirectoryHandle&, const std::string&, const char*,
                                     unsigned);
    friend OsStatus safe_output_write(SafeOutput&, const void*, size_t);
    friend OsStatus safe_output_copy_from(SafeOutput&, InputFile&, int64_t, int64_t);
    friend CommitResult safe_output_commit(SafeOutput&);
    friend void safe_output_discard(SafeOutput&);
    // The platform file's own helpers, as static members.
    friend struct SafeOutputPlatform;

    int error_ = 0;
#ifdef _WIN32
    void* handle_ = nullptr;         // the temporary, deleted when closed until committed
    DirectoryHandle subdirectory_;   // held while the file goes below the caller's directory
    std::wstring directory_path_;    // where the file goes, in the \\?\ form
    std::wstring temp_path_;         // to remove it should marking it ever fail
    std::wstring final_name_;
#else
    int fd_ = -1;
    int directory_fd_ = -1;     // the directory the file goes into
    bool owns_directory_ = false;  // false when it is the caller's handle's
    bool anonymous_ = false;    // an unnamed file, until it is linked
    std::string temp_name_;     // within directory_fd_; empty while unnamed
    std::string final_name_;
    const char* temp_prefix_ = "";
#endif
};

// Starts a file to be put at `relative_name` inside `directory`.
// `relative_name` may hold subdirectories (separated as path.h says); none is
// created, and none may be a link or junction: that, a missing subdirectory,
// or a name ending in a separator fails. A temporary that needs a name gets
// one beginning with `temp_prefix`. A new file gets at most `permissions`
// (less what the user's umask takes away, where the platform has both); a
// file it replaces keeps its own.
OsStatus safe_output_open(SafeOutput& output, const DirectoryHandle& directory,
                          const std::string& relative_name, const char* temp_prefix,
                          unsigned permissions = 0666);

OsStatus safe_output_write(SafeOutput& output, const void* data, size_t length);

// Appends `length` bytes of `source` starting at `offset`, by the fastest
// means the platform has. Fails on a read or write error or an early end.
OsStatus safe_output_copy_from(SafeOutput& output, InputFile& source, int64_t offset,
                               int64_t length);

// Puts the complete file under its final name, replacing a file or a link
// that stands there. On any failure the file is discarded.
CommitResult safe_output_commit(SafeOutput& output);

// Closes and removes the file being written. Harmless when nothing is open.
void safe_output_discard(SafeOutput& output);

// For tests: makes every later output take the named temporary where the
// platform would otherwise write an unnamed file.
void safe_output_use_named_temporaries(bool named);
