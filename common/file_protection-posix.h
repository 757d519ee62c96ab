#pragma once

// What a file written through the safe output is given on POSIX systems so
// that it is never more open than what it stands for: the file it replaces,
// or the source it is a copy of (safe_output-posix.cc uses these).

#include <sys/stat.h>

#include "common/directory.h"
#include "common/input_file.h"
#include "common/safe_output.h"
#include "common/status.h"

// Tells `output` what the file it is about to make in `directory` with the
// permission bits `requested` will have, where the folder lets that be known
// without asking the file: a folder without a default ACL gives the bits
// less the umask, and the group of a setgid folder or else the runner's.
// What the folder is like is learnt once per handle.
void foresee_new_file(SafeOutput& output, const DirectoryHandle& directory, unsigned requested);

// Narrows the new file, just created, to its source: an ACL it took from the
// folder's default ACL goes (the permission bits left are within the
// source's, which it was created with), and it takes the source's group, or
// where the process may not set that, gives its own group no more than
// others have.
Status limit_to_source(SafeOutput& output, const InputFile& source);

// Gives the new file what the old file at its final name, found as `old`,
// carries: owner and group where the process may set them (else the
// runner's, its group given no more than others have), the permission bits
// less setuid, setgid and sticky, its ACL and its users' extended
// attributes, and no ACL of its own where the old file has none.
// Failure::cannot_replace where any of that cannot be carried over.
Status carry_protection(SafeOutput& output, const struct stat& old);
