#pragma once

// What a file written through the safe output is given on POSIX systems so
// that it is never more open than what it stands for: the file it replaces,
// or the source it is a copy of (safe_output-posix.cc uses these).

#include <sys/stat.h>

#include <string>

#include "common/input_file.h"
#include "common/status.h"

// Narrows the new file `fd`, just created, to its source: an ACL it took
// from the folder's default ACL goes (the permission bits left are within
// the source's, which it was created with), and it takes the source's group,
// or where the process may not set that, gives its own group no more than
// others have. `acl_cleared` tells that no inherited ACL is left.
Status limit_to_source(int fd, const InputFile& source, bool& acl_cleared);

// Gives the new file `fd` what the old file `name` in `directory_fd`, found
// as `old`, carries: owner and group where the process may set them (else
// the runner's, its group given no more than others have), the permission
// bits less setuid, setgid and sticky, its ACL and its users' extended
// attributes, and no ACL of its own where the old file has none.
// Failure::cannot_replace where any of that cannot be carried over.
Status carry_protection(int fd, int directory_fd, const std::string& name, const struct stat& old,
                        bool acl_cleared);
