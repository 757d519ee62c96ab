// The platform layer on POSIX systems.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>
#include <vector>

#include "common/platform.h"
#include "common/platform_shared.h"
#include "common/wildcard.h"

namespace {

EntryKind kind_of_mode(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::regular;
    if (S_ISDIR(mode)) return EntryKind::directory;
    return EntryKind::other;
}

// Fills in kind and is_link from the directory entry's type, asking the file
// system only for links (to learn what they lead to) and unknown types.
bool classify_entry(int directory_fd, const dirent& raw, DirEntry& entry) {
    entry.is_link = false;
    switch (raw.d_type) {
        case DT_REG: entry.kind = EntryKind::regular; return true;
        case DT_DIR: entry.kind = EntryKind::directory; return true;
        case DT_LNK: break;
        case DT_UNKNOWN: {
            struct stat own;
            if (fstatat(directory_fd, raw.d_name, &own, AT_SYMLINK_NOFOLLOW) != 0) return false;
            if (!S_ISLNK(own.st_mode)) {
                entry.kind = kind_of_mode(own.st_mode);
                return true;
            }
            break;
        }
        default: entry.kind = EntryKind::other; return true;
    }
    entry.is_link = true;
    struct stat target;
    // A dangling link leads nowhere: not a file the walk could read.
    entry.kind = fstatat(directory_fd, raw.d_name, &target, 0) == 0 ? kind_of_mode(target.st_mode)
                                                                    : EntryKind::other;
    return true;
}

std::string directory_or_current(const std::string& directory) {
    return directory.empty() ? std::string(".") : directory;
}

void close_quietly(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Lets go of the directory an output was written into, closing it only when
// the output opened it itself.
void release_directory(SafeOutput& output) {
    if (output.owns_directory) close_quietly(output.directory_fd);
    output.directory_fd = -1;
    output.owns_directory = false;
}

std::string join(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

}  // namespace

bool is_path_separator(char c) { return c == '/'; }

bool list_directory(const std::string& directory, const std::string& pattern,
                    std::vector<DirEntry>& entries) {
    entries.clear();
    DIR* stream = opendir(directory_or_current(directory).c_str());
    if (stream == nullptr) return false;
    const int directory_fd = dirfd(stream);
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent* raw = readdir(stream);
        if (raw == nullptr) {
            ok = errno == 0;
            break;
        }
        const std::string_view name = raw->d_name;
        if (name == "." || name == "..") continue;
        if (!match_wildcard(pattern, name)) continue;
        DirEntry entry{std::string(name), EntryKind::other, false};
        // An entry that vanished since readdir is simply not there any more.
        if (classify_entry(directory_fd, *raw, entry)) entries.push_back(std::move(entry));
    }
    closedir(stream);
    std::sort(entries.begin(), entries.end(), listing_order);
    return ok;
}

PathKind probe_path(const std::string& path) {
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0) return PathKind::missing;
    return S_ISDIR(info.st_mode) ? PathKind::directory : PathKind::other;
}

bool create_directory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool is_lead_byte(unsigned char) { return false; }

void init_process() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

InputFile::~InputFile() { close_quietly(fd); }

bool open_input_file(InputFile& file, const std::string& path) {
    close_quietly(file.fd);
    // Look before opening: opening a FIFO or device can block or have effects.
    struct stat before;
    if (stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return false;
    file.fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file.fd < 0) return false;
    // The name may have been swapped for something else in between.
    struct stat opened;
    if (fstat(file.fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close_quietly(file.fd);
        return false;
    }
    // O_NONBLOCK means nothing for a regular file, so it may stay set.
    return true;
}

int64_t input_file_size(InputFile& file) {
    struct stat info;
    if (file.fd < 0 || fstat(file.fd, &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
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

SafeOutput::~SafeOutput() { safe_output_discard(*this); }

OutputDirectory::~OutputDirectory() { close_quietly(fd); }

bool open_output_directory(OutputDirectory& directory, const std::string& path) {
    close_quietly(directory.fd);
    directory.fd = open(directory_or_current(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    directory.path = path;
    directory.is_open = directory.fd >= 0;
    return directory.is_open;
}

namespace {

// Creates a new temporary under a fresh name, exclusively: a name that is
// taken, by a file or by a link, is never opened. Returns its descriptor and
// name, or -1.
int create_named_temporary(int directory_fd, const char* temp_prefix, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temporary_name(temp_prefix);
        const int fd = openat(directory_fd, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST && errno != EINTR) break;
    }
    name.clear();
    return -1;
}

// Where the system has unnamed files, a file being written has no name at
// all until it is complete: a crash leaves nothing behind, and creating the
// name once costs less than a temporary name and a rename. The name is made
// through /proc, so without it (or on file systems without unnamed files)
// the named temporary serves.
int open_anonymous(int directory_fd) {
#if defined(__linux__) && defined(O_TMPFILE)
    static const bool proc_links = access("/proc/self/fd", X_OK) == 0;
    if (proc_links) return openat(directory_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)directory_fd;
#endif
    return -1;
}

// Gives the unnamed file the name `name`; fails with EEXIST when something
// stands there, link or not, which is never followed.
int link_anonymous(const SafeOutput& output, const std::string& name) {
    char own_path[64];
    std::snprintf(own_path, sizeof own_path, "/proc/self/fd/%d", output.fd);
    return linkat(AT_FDCWD, own_path, output.directory_fd, name.c_str(), AT_SYMLINK_FOLLOW);
}

// Creates the temporary below the open directory `base_fd`, which the output
// takes over when `owns_base`. A name without subdirectories uses `base_fd`
// itself, so the common case costs one system call for the lookup and
// creation together.
bool open_below(SafeOutput& output, int base_fd, bool owns_base, const std::string& base_path,
                const std::string& relative_name, const char* temp_prefix) {
    std::vector<std::string> components;
    std::string current;
    for (const char c : relative_name) {
        if (is_path_separator(c)) {
            if (!current.empty()) components.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    int directory_fd = base_fd;
    bool owned = owns_base;
    const auto give_up = [&] {
        if (owned && directory_fd >= 0) close(directory_fd);
        return false;
    };
    // A name ending in a separator names a directory, never a file.
    if (directory_fd < 0 || current.empty()) return give_up();

    std::string parent = base_path;
    for (const std::string& component : components) {
        // O_NOFOLLOW: a link standing as a subdirectory could lead anywhere.
        const int next = openat(directory_fd, component.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (owned) close(directory_fd);
        if (next < 0) return false;
        directory_fd = next;
        owned = true;
        parent = join(parent, component);
    }
    output.directory_fd = directory_fd;
    output.owns_directory = owned;
    output.final_path = join(parent, current);
    output.final_name = current;
    output.temp_prefix = temp_prefix;
    const int anonymous_fd = open_anonymous(directory_fd);
    if (anonymous_fd >= 0) {
        output.fd = anonymous_fd;
        output.anonymous = true;
        return true;
    }
    const int fd = create_named_temporary(directory_fd, temp_prefix, output.temp_name);
    if (fd >= 0) {
        output.fd = fd;
        output.temp_path = join(parent, output.temp_name);
        return true;
    }
    output.directory_fd = -1;
    output.owns_directory = false;
    return give_up();
}

}  // namespace

bool safe_output_open_at(SafeOutput& output, OutputDirectory& directory,
                         const std::string& relative_name, const char* temp_prefix) {
    safe_output_discard(output);
    return open_below(output, directory.fd, false, directory.path, relative_name, temp_prefix);
}

bool safe_output_open(SafeOutput& output, const std::string& directory,
                      const std::string& relative_name, const char* temp_prefix) {
    safe_output_discard(output);
    const int directory_fd = open(directory_or_current(directory).c_str(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return open_below(output, directory_fd, true, directory, relative_name, temp_prefix);
}

bool safe_output_write(SafeOutput& output, const void* data, size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t put = write(output.fd, bytes, length);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

bool safe_output_copy_from(SafeOutput& output, InputFile& source, int64_t offset,
                           int64_t length) {
    if (length <= 0) return true;
    if (offset < 0) return false;
#ifdef __linux__
    // In-kernel copy: no trip through user memory, and reflinks where the
    // file system has them.
    off_t position = static_cast<off_t>(offset);
    bool started = false;
    while (length > 0) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(length, 1 << 30));
        const ssize_t moved = copy_file_range(source.fd, &position, output.fd, nullptr, want, 0);
        if (moved < 0) {
            if (errno == EINTR) continue;
            const bool unsupported = errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                                     errno == EOPNOTSUPP || errno == EBADF;
            if (!started && unsupported) return copy_by_blocks(output, source, offset, length);
            return false;
        }
        if (moved == 0) return false;  // the archive ended early
        started = true;
        length -= moved;
    }
    return true;
#else
    return copy_by_blocks(output, source, offset, length);
#endif
}

namespace {

// Names a complete unnamed file: directly under its final name when nothing
// stands there, else under a temporary name for the rename to put in place.
// True when it stands under its final name already.
bool name_anonymous(SafeOutput& output, bool& failed) {
    failed = false;
    if (link_anonymous(output, output.final_name) == 0) return true;
    if (errno == EEXIST) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = temporary_name(output.temp_prefix);
            if (link_anonymous(output, name) == 0) {
                output.temp_name = std::move(name);
                return false;
            }
            if (errno != EEXIST) break;
        }
    }
    failed = true;
    return false;
}

}  // namespace

CommitResult safe_output_finish(SafeOutput& output) {
    if (output.fd < 0) return CommitResult::failed;
    bool in_place = false;
    if (output.anonymous) {
        bool failed = false;
        in_place = name_anonymous(output, failed);
        if (failed) {
            safe_output_discard(output);
            return CommitResult::failed;
        }
    }
    const int closed = close(output.fd);
    output.fd = -1;
    if (closed != 0) {
        // Nothing stood at the final name before, so taking it back away
        // loses nothing.
        if (in_place) unlinkat(output.directory_fd, output.final_name.c_str(), 0);
        safe_output_discard(output);
        return CommitResult::failed;
    }
    if (in_place) {
        release_directory(output);
        return CommitResult::committed;
    }
    if (renameat(output.directory_fd, output.temp_name.c_str(), output.directory_fd,
                 output.final_name.c_str()) != 0) {
        // A file cannot replace a directory: EISDIR says exactly that.
        const bool directory_in_the_way = errno == EISDIR;
        safe_output_discard(output);
        return directory_in_the_way ? CommitResult::directory_in_the_way : CommitResult::failed;
    }
    output.temp_name.clear();
    release_directory(output);
    return CommitResult::committed;
}

bool safe_output_commit(SafeOutput& output) {
    return safe_output_finish(output) == CommitResult::committed;
}

void safe_output_discard(SafeOutput& output) {
    close_quietly(output.fd);
    output.anonymous = false;
    if (output.directory_fd >= 0 && !output.temp_name.empty())
        unlinkat(output.directory_fd, output.temp_name.c_str(), 0);
    output.temp_name.clear();
    release_directory(output);
}
