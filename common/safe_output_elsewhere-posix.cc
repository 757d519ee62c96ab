// What the POSIX safe output does on systems other than Linux where Linux
// has calls of its own (safe_output_state-posix.h, file_protection-posix.h):
// no unnamed files, so every file is a named temporary renamed into place;
// no in-kernel copy; and no ACLs or extended attributes carried over, read
// or taken off, since no portable call reaches them.

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/file_protection-posix.h"
#include "common/safe_output_state-posix.h"
#include "common/system_call.h"
#include "common/test_hooks.h"

void safe_output_use_named_temporaries(bool) {}

int open_unnamed(FolderWays&, int, mode_t) { return -1; }

int link_unnamed(FolderWays&, int, int, const std::string&) {
    errno = ENOTSUP;
    return -1;
}

int rename_without_replacing(FolderWays&, int directory_fd, const std::string& from, const std::string& to) {
    return renameat(directory_fd, from.c_str(), directory_fd, to.c_str());
}

void copy_in_kernel(int, int, int64_t&, int64_t&) {}

bool read_carried_attributes(int, std::vector<CarriedAttribute>&) { return true; }

bool set_carried_attribute(int, const CarriedAttribute&) {
    errno = ENOTSUP;
    return false;
}

bool drop_inherited_acl(int, bool& dropped) {
    dropped = false;
    return true;
}

bool carry_source_acl(int, int, bool& carried, mode_t&) {
    carried = false;
    return true;
}

// The permission bits alone, as the owner, a group member or anyone else
// finds them; root may write any file.
bool may_write_through(int, const struct stat& info) {
    const uid_t runner = runner_id();
    if (runner == 0) return true;
    if (info.st_uid == runner) return (info.st_mode & S_IWUSR) != 0;
    gid_t groups[256];
    const int count = getgroups(256, groups);
    bool member = info.st_gid == getegid();
    for (int i = 0; i < count && !member; ++i) member = groups[i] == info.st_gid;
    return (info.st_mode & (member ? S_IWGRP : S_IWOTH)) != 0;
}
