#pragma once

// What the POSIX safe output keeps of one file being written, and what the
// system adds to the portable way of writing it: Linux's unnamed files and
// in-kernel copy (safe_output-linux.cc), or their stand-ins on other POSIX
// systems (safe_output_elsewhere-posix.cc). Only the safe output's own files
// include this.

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "common/safe_output.h"

// What a new file in one folder got, asked of the first file made there:
// its group and permission bits for the bits it was asked with, and no ACL.
// Kept only for a folder the caller opened (DirectoryHandle::opening tells
// that opening from any other, as a descriptor number cannot) and that the
// runner owns, so that no one but the runner or root can change what the
// folder gives (its default ACL, setgid bit or group) while it is kept.
struct NewFileShape {
    bool owner_known = false;
    bool runner_owns = false;  // the folder is the runner's
    bool known = false;        // a file made there showed the following
    unsigned asked = 0;        // the permission bits it was asked with
    unsigned mode = 0;         // ... and those it got
    unsigned group = 0;
};

// What one folder has shown the safe output, learnt at its first file there
// and kept by the safe output (safe_output-posix.cc), never by the caller's
// directory handle. The ways only spare a call that would fail or a failed
// try, so one learnt of another folder that had the same descriptor costs
// a call at most; the new file's shape is kept by the folder's opening.
struct FolderWays {
    uint64_t opening = 0;            // the caller's handle's; 0 for a subfolder
    int directory_fd = -1;
    bool unnamed_refused = false;    // its file system makes no unnamed files
    bool link_through_proc = false;  // a descriptor is named only through /proc
    bool replaces_on_rename = false; // its file system has no rename that never replaces
    bool last_replaced = false;      // the last file committed there replaced one
    NewFileShape shape;
};

struct SafeOutputState {
    int fd = -1;
    int directory_fd = -1;        // the directory the file goes into
    bool owns_directory = false;  // false when it is the caller's handle's
    uint64_t opening = 0;         // the caller's handle's, while it is that
    unsigned asked_mode = 0;      // the permission bits the file was made with
    bool unnamed = false;         // an unnamed file, until it is linked
    std::string temp_name;        // within directory_fd; empty while unnamed
    std::string final_name;
    const char* temp_prefix = "";
    FolderWays ways;
    // What the new file got, its group and permission bits, read back from
    // the file itself once needed (an ACL it took from the folder taken off
    // first).
    bool made_known = false;
    unsigned made_group = 0;
    unsigned made_mode = 0;
    // A copy's source's owner, -1 for any other file: see safe_output_open_copy.
    int64_t source_owner = -1;
    // Made under its temporary name with nothing for its group or others:
    // unless it takes an old file's bits, it gets `folder_mode`, what its
    // folder gives a new file asked with `asked_mode`, at commit.
    bool bits_withheld = false;
    unsigned folder_mode = 0;
};

// A new unnamed file in the folder, or -1 where the system or the folder's
// file system has none (then noted in `ways`) or /proc is missing.
int open_unnamed(FolderWays& ways, int directory_fd, mode_t mode);

// Gives the unnamed file `fd` the name `name`: 0, or -1 with errno (EEXIST
// when something stands there, link or not, which is never followed).
int link_unnamed(FolderWays& ways, int fd, int directory_fd, const std::string& name);

// Renames `from` to `to` within `directory_fd`, failing with EEXIST where
// something stands at `to`, where the system and file system can promise
// that (Linux's RENAME_NOREPLACE; a file system that cannot is noted in
// `ways`); elsewhere an ordinary rename.
int rename_without_replacing(FolderWays& ways, int directory_fd, const std::string& from, const std::string& to);

// Copies what the kernel copies itself of `length` bytes of `source_fd` at
// `offset` to the end of `fd`, moving both on by what it copied; whatever is
// left (none where the system has no such copy) is for the block copy.
void copy_in_kernel(int source_fd, int fd, int64_t& offset, int64_t& length);
