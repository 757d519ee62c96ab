// Directories, their listings and the files read, on POSIX systems.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "common/directory.h"
#include "common/input_file.h"
#include "common/system_call.h"

namespace {

EntryKind kind_of_mode(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::regular;
    if (S_ISDIR(mode)) return EntryKind::directory;
    return EntryKind::other;
}

// Tells kind and is_link from the directory entry's type, asking the file
// system only for links (to learn what they lead to) and unknown types.
bool classify_entry(int directory_fd, const dirent& raw, EntryKind& kind, bool& is_link) {
    is_link = false;
    switch (raw.d_type) {
        case DT_REG: kind = EntryKind::regular; return true;
        case DT_DIR: kind = EntryKind::directory; return true;
        case DT_LNK: break;
        case DT_UNKNOWN: {
            struct stat own;
            if (fstatat(directory_fd, raw.d_name, &own, AT_SYMLINK_NOFOLLOW) != 0) return false;
            if (!S_ISLNK(own.st_mode)) {
                kind = kind_of_mode(own.st_mode);
                return true;
            }
            break;
        }
        default: kind = EntryKind::other; return true;
    }
    is_link = true;
    struct stat target;
    // A dangling link leads nowhere: not a file the walk could read.
    kind = fstatat(directory_fd, raw.d_name, &target, 0) == 0 ? kind_of_mode(target.st_mode) : EntryKind::other;
    return true;
}

const char* path_or_current(const std::string& path) { return path.empty() ? "." : path.c_str(); }

// Takes an opened descriptor as a regular input file, or refuses and closes it.
Status take_regular_file(InputFile& file, int fd) {
    if (fd < 0) return last_failure(Failure::reading);
    struct stat opened;
    const int error = fstat(fd, &opened) != 0 ? errno : S_ISREG(opened.st_mode) ? 0 : EINVAL;
    if (error != 0) {
        close(fd);
        return failed(Failure::reading, error);
    }
    // O_NONBLOCK means nothing for a regular file, so it may stay set.
    file.fd = fd;
    file.size = static_cast<int64_t>(opened.st_size);
    file.permissions = static_cast<unsigned>(opened.st_mode & 0777);
    file.group = static_cast<int64_t>(opened.st_gid);
    file.owner = static_cast<int64_t>(opened.st_uid);
    return kSucceeded;
}

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Opens `name` in `directory_fd` for reading only once the thing found there
// is known to be a regular file. A name that may be a link (the archive, a
// source listed as a link), which could lead to any FIFO or device, is
// where the system has O_PATH first opened only as a place: a FIFO's writer
// is not woken and a device's driver never sees the open. The file is then
// opened for reading through that handle, so nothing swapped in under the
// name meanwhile is reached. A name listed as a plain file is opened
// directly, as is any name without O_PATH or /proc to reopen through: never
// through a link, never blocking, never taking a terminal, and the opened
// file is checked before a byte is read. Only the tree's owner can have put
// a FIFO there since, and such a name costs two system calls, not five: the
// scrambler opens every source so.
Status open_regular_file(InputFile& file, int directory_fd, const char* name, bool follow_link) {
#ifdef O_PATH
    if (follow_link) {
        const int place = openat(directory_fd, name, O_PATH | O_CLOEXEC);
        if (place < 0) return last_failure(Failure::reading);
        struct stat found;
        int error = fstat(place, &found) != 0 ? errno : 0;
        if (error == 0 && !S_ISREG(found.st_mode)) error = EINVAL;
        int fd = -1;
        if (error == 0) {
            fd = open(descriptor_path(place).text, kReadFlags);
            if (fd < 0) error = errno;
        }
        close(place);
        if (error != ENOENT) return error == 0 ? take_regular_file(file, fd) : failed(Failure::reading, error);
    }
#endif
    return take_regular_file(file, openat(directory_fd, name, kReadFlags | (follow_link ? 0 : O_NOFOLLOW)));
}

}  // namespace

PathKind probe_path(const std::string& path) {
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0) return PathKind::missing;
    return S_ISDIR(info.st_mode) ? PathKind::directory : PathKind::other;
}

Status create_directory(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0 ? kSucceeded : last_failure(Failure::creating);
}

DirectoryHandle::~DirectoryHandle() { close_quietly(fd); }

namespace {

// Numbers a directory handle's opening (DirectoryHandle::opening), or marks
// it closed where the open failed.
Status number_opening(DirectoryHandle& directory) {
    static uint64_t openings = 0;
    directory.opening = directory.fd >= 0 ? ++openings : 0;
    return directory.fd >= 0 ? kSucceeded : last_failure(Failure::directory);
}

}  // namespace

bool DirectoryHandle::is_open() const { return fd >= 0; }

Status open_directory(DirectoryHandle& directory, const std::string& path) {
    close_quietly(directory.fd);
    directory.fd = open(path_or_current(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return number_opening(directory);
}

Status open_derived_directory(DirectoryHandle& directory, const std::string& path) {
    close_quietly(directory.fd);
    directory.fd = open(path_or_current(path), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return number_opening(directory);
}

Status open_subdirectory(DirectoryHandle& child, const DirectoryHandle& parent, const std::string& name) {
    close_quietly(child.fd);
    child.opening = 0;
    if (parent.fd < 0) return failed(Failure::directory, EBADF);
    // O_NOFOLLOW: a link standing at the name, whenever it was put there,
    // could lead anywhere.
    child.fd = openat(parent.fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return number_opening(child);
}

Status list_directory(const DirectoryHandle& directory, DirListing& listing) {
    listing.names.clear();
    listing.entries.clear();
    // The stream gets a descriptor of its own; the handle stays open for the
    // work inside the directory.
    const int stream_fd = directory.fd < 0 ? -1 : dup(directory.fd);
    if (stream_fd < 0) return directory.fd < 0 ? failed(Failure::reading, EBADF) : last_failure(Failure::reading);
    DIR* stream = fdopendir(stream_fd);
    if (stream == nullptr) {
        const Status status = last_failure(Failure::reading);
        close(stream_fd);
        return status;
    }
    rewinddir(stream);
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* raw = readdir(stream);
        if (raw == nullptr) {
            error = errno;
            break;
        }
        const std::string_view name = raw->d_name;
        if (name == "." || name == "..") continue;
        EntryKind kind = EntryKind::other;
        bool is_link = false;
        // An entry that vanished since readdir is simply not there any more.
        if (!classify_entry(stream_fd, *raw, kind, is_link)) continue;
        if (!add_listed_entry(listing, name, kind, is_link)) {
            error = EOVERFLOW;
            break;
        }
    }
    closedir(stream);
    sort_listing(listing);
    return error == 0 ? kSucceeded : failed(Failure::reading, error);
}

InputFile::~InputFile() { close_quietly(fd); }

Status open_input_file(InputFile& file, const std::string& path) {
    close_quietly(file.fd);
    return open_regular_file(file, AT_FDCWD, path.c_str(), true);
}

Status open_input_file_at(InputFile& file, const DirectoryHandle& directory, const std::string& name,
                          bool follow_link) {
    close_quietly(file.fd);
    if (directory.fd < 0) return failed(Failure::directory, EBADF);
    return open_regular_file(file, directory.fd, name.c_str(), follow_link);
}

int64_t read_input(InputFile& file, void* buffer, size_t length) {
    for (;;) {
        const ssize_t got = read(file.fd, buffer, length);
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

int64_t read_input_at(InputFile& file, void* buffer, size_t length, int64_t offset) {
    auto* bytes = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t got = pread(file.fd, bytes + done, length - done,
                                  static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

// SEEK_DATA where the system has it. Past the current end there is no hole
// to claim: `offset` is returned, so a read there meets the shortened file.
int64_t next_data_at(InputFile& file, int64_t offset) {
#ifdef SEEK_DATA
    const off_t found = lseek(file.fd, static_cast<off_t>(offset), SEEK_DATA);
    if (found >= 0) return static_cast<int64_t>(found);
    struct stat info;
    if (errno == ENXIO && fstat(file.fd, &info) == 0 && offset < static_cast<int64_t>(info.st_size))
        return INT64_MAX;
#endif
    return offset;
}
