// What Linux adds to the POSIX safe output (safe_output_state-posix.h):
// unnamed files, linked under their name when complete, and the in-kernel
// copy.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "common/safe_output_state-posix.h"
#include "common/system_call.h"
#include "common/test_hooks.h"

namespace {

bool g_named_temporaries_only = false;

// An unnamed file is named through /proc where the kernel refuses to name
// a descriptor directly, so without /proc none is made.
bool has_proc() {
    static const bool found = access("/proc/self/fd", X_OK) == 0;
    return found;
}

}  // namespace

void safe_output_use_named_temporaries(bool named) { g_named_temporaries_only = named; }

// Where the system has unnamed files, a file being written has no name at
// all until it is complete: a crash leaves nothing behind, and creating the
// name once costs less than a temporary name and a rename.
int open_unnamed(FolderWays& ways, int directory_fd, mode_t mode) {
    if (ways.unnamed_refused || g_named_temporaries_only || !has_proc()) return -1;
    const int fd = openat(directory_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    // A file system without them says so; a folder the user may not write
    // refuses a named file as well, and tells nothing of the file system.
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) ways.unnamed_refused = true;
    return fd;
}

// Naming the descriptor itself (AT_EMPTY_PATH) spares the path lookup
// through /proc, but older kernels allow it only to a process that may read
// any file; where it is refused, /proc serves in that folder from then on.
int link_unnamed(FolderWays& ways, int fd, int directory_fd, const std::string& name) {
    if (!ways.link_through_proc) {
        if (linkat(fd, "", directory_fd, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
        if (errno == EEXIST) return -1;
    }
    const int linked = linkat(AT_FDCWD, descriptor_path(fd).text, directory_fd, name.c_str(), AT_SYMLINK_FOLLOW);
    // Only when /proc did what the direct way could not was the refusal a
    // matter of permission rather than of this name or directory.
    if (linked == 0) ways.link_through_proc = true;
    return linked;
}

// A file system that cannot promise it (NFS among them) answers EINVAL,
// and an older kernel ENOSYS: the rename there is an ordinary one, as on
// other systems, and is taken straight away from then on.
int rename_without_replacing(FolderWays& ways, int directory_fd, const std::string& from, const std::string& to) {
    if (!ways.replaces_on_rename) {
        if (renameat2(directory_fd, from.c_str(), directory_fd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return -1;
        ways.replaces_on_rename = true;
    }
    return renameat(directory_fd, from.c_str(), directory_fd, to.c_str());
}

// No trip through user memory, and reflinks where the file system has them.
void copy_in_kernel(int source_fd, int fd, int64_t& offset, int64_t& length) {
    auto position = static_cast<off_t>(offset);
    while (length > 0) {
        const auto want = static_cast<size_t>(std::min<int64_t>(length, 1 << 30));
        const ssize_t moved = copy_file_range(source_fd, &position, fd, nullptr, want, 0);
        if (moved < 0 && errno == EINTR) continue;
        if (moved <= 0) break;
        length -= moved;
    }
    offset = static_cast<int64_t>(position);
}
