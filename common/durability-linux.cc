#include "common/durability.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/test_hooks.h"

WrittenFileSystems::~WrittenFileSystems() {
    for (const Mark& mark : marks) close(mark.fd);
}

// A file's data and its name live on the file system of its folder; one
// handle per file system (the scrambler's tree may cross mount points) is
// all that syncfs needs. A duplicate of the caller's handle, opened before
// the file was written, also sees write-back errors from before this call.
void note_written(WrittenFileSystems& written, const DirectoryHandle& directory, const std::string& folder) {
    struct stat status {};
    const int stated =
        folder.empty() ? fstat(directory.fd, &status) : fstatat(directory.fd, folder.c_str(), &status, 0);
    if (stated != 0) {
        written.unmarked = true;
        return;
    }
    for (const WrittenFileSystems::Mark& mark : written.marks) {
        if (mark.device == status.st_dev) return;
    }
    const int fd = folder.empty() ? fcntl(directory.fd, F_DUPFD_CLOEXEC, 0)
                                  : openat(directory.fd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        written.unmarked = true;
        return;
    }
    written.marks.push_back({static_cast<uint64_t>(status.st_dev), fd});
}

// syncfs writes out the file system's data and its journal, and reports a
// write-back error seen on it since the handle was opened.
Status flush_written(WrittenFileSystems& written) {
    Status result = kSucceeded;
    for (const WrittenFileSystems::Mark& mark : written.marks) {
        if (syncfs(mark.fd) != 0 && result) result = last_failure(Failure::writing);
    }
    if (written.unmarked) sync();
    if (result && flush_fails_for_test) result = failed(Failure::writing, EIO);
    return result;
}
