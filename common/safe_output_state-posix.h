#pragma once

// What the POSIX safe output keeps of one file being written
// (safe_output.h); only the safe output's own files include this.

#include <cstdint>
#include <string>

#include "common/safe_output.h"

struct SafeOutputState {
    int fd = -1;
    int directory_fd = -1;        // the directory the file goes into
    bool owns_directory = false;  // false when it is the caller's handle's
    bool anonymous = false;       // an unnamed file, until it is linked
    std::string temp_name;        // within directory_fd; empty while unnamed
    std::string final_name;
    const char* temp_prefix = "";
    // What the new file is known to have without asking: its group and
    // permission bits, and no ACL from the folder's default ACL.
    bool made_known = false;
    unsigned made_group = 0;
    unsigned made_mode = 0;
    // A copy's source's owner, -1 for any other file: see safe_output_open_copy.
    int64_t source_owner = -1;
};
