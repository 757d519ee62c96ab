#pragma once

// What a file written through the safe output is given on POSIX systems so
// that it is never more open than what it stands for: the file it replaces,
// or the source it is a copy of. Everything is read from the files' own
// handles, never looked up twice by name (safe_output-posix.cc uses these;
// the ACLs and attributes are Linux's, file_protection-linux.cc, with
// stand-ins elsewhere in safe_output_elsewhere-posix.cc).

#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/input_file.h"
#include "common/safe_output_state-posix.h"
#include "common/status.h"

// What stands at the final name, as found by opening it once.
enum class Existing { nothing, replaceable, regular_file, cannot_replace };

// The file at the final name, opened once without following a link or
// blocking; everything it carries is read through this handle.
struct OldFile {
    OldFile() = default;
    OldFile(const OldFile&) = delete;
    OldFile& operator=(const OldFile&) = delete;
    ~OldFile();
    int fd = -1;
    struct stat info {};
    int error = 0;  // why it is Existing::cannot_replace
};

// Opens what stands at `name` in `directory_fd` and judges it: a link, FIFO
// or device is replaced as it is, a directory never, a regular file only
// where the user may write it (else "wb" could not have replaced it either).
Existing open_existing(int directory_fd, const std::string& name, OldFile& old);

// Narrows the new file, just created, to its source: an ACL it took from the
// folder goes, the source's ACL comes over (or where it cannot, the group's
// bits shrink to what the ACL gave the group), and it takes the source's
// group, or where the process may not set that, gives its own group no more
// than others have. Failure::creating where any of that fails.
Status limit_to_source(SafeOutputState& output, const InputFile& source);

// Gives the new file what the old file carries: owner and group where the
// process may set them (else the runner's, its group given no more than
// others have), the permission bits less setuid, setgid and sticky, its ACL
// and its users' extended attributes, and no ACL of its own where the old
// file has none. Failure::cannot_replace where any of that cannot be done.
Status carry_protection(SafeOutputState& output, const OldFile& old);

// Gives a new file made with its bits withheld (SafeOutputState) the bits
// its folder gives new files. Failure::naming where it cannot.
Status give_withheld_bits(SafeOutputState& output);

// One extended attribute a replaced file carries over.
struct CarriedAttribute {
    std::string name;
    std::vector<char> value;
    bool is_acl = false;  // setting it sets the permission bits too
};

// The ACL and users' attributes of the open file `fd`; none where its file
// system keeps none. False, with errno, where they cannot be read.
bool read_carried_attributes(int fd, std::vector<CarriedAttribute>& attributes);

bool set_carried_attribute(int fd, const CarriedAttribute& attribute);

// Takes off an ACL the new file `fd` took from its folder; `dropped` tells
// whether it had one.
bool drop_inherited_acl(int fd, bool& dropped);

// Gives the new file `fd` the access ACL of `source_fd`, if it has one
// (`carried`). Where the new file's file system takes no ACL, `group_bits`
// (070 on entry) keeps only what the source's ACL let its owning group have,
// mask included, for the group's bits of the copy. False, with errno, where
// the ACL cannot be read or set.
bool carry_source_acl(int source_fd, int fd, bool& carried, mode_t& group_bits);

// Whether the user may write the open file `fd`, found as `info`, as the
// system judges it (ACLs and root included where it can tell).
bool may_write_through(int fd, const struct stat& info);
