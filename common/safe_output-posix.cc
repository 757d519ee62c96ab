// The safe output on POSIX systems: an unnamed file linked in when complete
// where Linux offers one, a named temporary renamed over the final name
// elsewhere (safe_output.h tells the contract).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "common/file_protection-posix.h"
#include "common/safe_output_parts.h"
#include "common/safe_output_state-posix.h"
#include "common/system_call.h"
#include "common/test_hooks.h"

namespace {

bool g_named_temporaries_only = false;

// The named temporary being written, where a signal handler can reach it:
// a fixed buffer and a descriptor, since the handler may call nothing that
// allocates. The programs write one file at a time, so one slot serves.
struct PendingTemporary {
    volatile sig_atomic_t armed = 0;
    int directory_fd = -1;
    char name[256] = {};
};
PendingTemporary g_pending;

void arm_pending(int directory_fd, const std::string& name) {
    if (name.size() >= sizeof g_pending.name) return;
    g_pending.armed = 0;
    std::memcpy(g_pending.name, name.c_str(), name.size() + 1);
    g_pending.directory_fd = directory_fd;
    g_pending.armed = 1;
}

void disarm_pending() { g_pending.armed = 0; }

extern "C" void remove_pending_and_end(int signal_number) {
    if (g_pending.armed != 0) unlinkat(g_pending.directory_fd, g_pending.name, 0);
    // End the way the signal would have ended the program, so the shell
    // sees an interrupt rather than an ordinary exit. The signal stays
    // blocked until the handler returns, and then takes its default action.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal_number, &fallback, nullptr);
    raise(signal_number);
}

// Every signal whose default action ends the process. SIGKILL cannot be
// caught, and SIGPIPE and SIGXFSZ are ignored by init_process, so that the
// write fails instead.
constexpr int kEndingSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,  SIGXFSZ,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGLOST
    SIGLOST,
#endif
};

// Lets the handler catch `signal_number` unless it was ignored at start
// (nohup, or init_process's own choice).
void catch_unless_ignored(int signal_number, const struct sigaction& cleanup) {
    struct sigaction before {};
    if (sigaction(signal_number, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) return;
    sigaction(signal_number, &cleanup, nullptr);
}

// Whether new outputs are written as unnamed files, which a signal handler
// need not clean up; false where named temporaries are used.
bool takes_unnamed_files() {
#if defined(__linux__) && defined(O_TMPFILE)
    static const bool proc_links = access("/proc/self/fd", X_OK) == 0;
    return proc_links && !g_named_temporaries_only;
#else
    return false;
#endif
}

// Creates a new temporary under a fresh name, exclusively: a name that is
// taken, by a file or by a link, is never opened. Returns its descriptor and
// name, or -1 with errno.
int create_named_temporary(int directory_fd, const char* temp_prefix, mode_t permissions, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temporary_name(temp_prefix);
        arm_pending(directory_fd, name);
        const int fd = openat(directory_fd, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
        if (fd >= 0) return fd;
        const int error = errno;
        disarm_pending();
        errno = error;
        if (error != EEXIST && error != EINTR) break;
    }
    name.clear();
    return -1;
}

// Where the system has unnamed files, a file being written has no name at
// all until it is complete: a crash leaves nothing behind, and creating the
// name once costs less than a temporary name and a rename. The name is made
// through /proc, so without it (or on file systems without unnamed files)
// the named temporary serves.
int open_anonymous(int directory_fd, mode_t permissions) {
#if defined(__linux__) && defined(O_TMPFILE)
    if (takes_unnamed_files()) return openat(directory_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, permissions);
#else
    (void)directory_fd;
    (void)permissions;
#endif
    return -1;
}

// Gives the unnamed file `fd` the name `name`; fails with EEXIST when
// something stands there, link or not, which is never followed. Naming the
// descriptor itself (AT_EMPTY_PATH) spares the path lookup through /proc,
// but the kernel allows it only to a process that may read any file; where
// it is refused, /proc serves from then on.
int link_anonymous(int fd, int directory_fd, const std::string& name) {
#if defined(__linux__) && defined(AT_EMPTY_PATH)
    static bool empty_path_allowed = true;
    if (empty_path_allowed) {
        if (linkat(fd, "", directory_fd, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
        if (errno == EEXIST) return -1;
    }
#endif
    char own_path[64];
    std::snprintf(own_path, sizeof own_path, "/proc/self/fd/%d", fd);
    const int linked = linkat(AT_FDCWD, own_path, directory_fd, name.c_str(), AT_SYMLINK_FOLLOW);
#if defined(__linux__) && defined(AT_EMPTY_PATH)
    // Only when /proc did what the direct way could not was the refusal a
    // matter of permission rather than of this name or directory.
    if (linked == 0) empty_path_allowed = false;
#endif
    return linked;
}

// What stands at the final name, as found by one look at it.
enum class Existing { nothing, replaceable, regular_file, cannot_replace };

// Whether opening the regular file `name`, found as `found`, with "wb"
// could have written it. The look already answers for the user's own file
// that its owner may write; only otherwise is the system asked, which
// knows about ACLs and root.
bool may_write(int directory_fd, const std::string& name, const struct stat& found) {
    static const uid_t runner = geteuid();
    if (found.st_uid == runner && (found.st_mode & S_IWUSR) != 0) return true;
    return faccessat(directory_fd, name.c_str(), W_OK, AT_EACCESS) == 0;
}

// What stands at the final name, and whether "wb" could have replaced it: a
// directory could not, nor a file the user may not write.
Existing examine_existing(int directory_fd, const std::string& name, struct stat& found) {
    if (fstatat(directory_fd, name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0) return Existing::nothing;
    if (S_ISDIR(found.st_mode)) return Existing::cannot_replace;
    if (!S_ISREG(found.st_mode)) return Existing::replaceable;
    return may_write(directory_fd, name, found) ? Existing::regular_file : Existing::cannot_replace;
}

// Whether the last file committed replaced another: a run over its own
// earlier output replaces every file, a first run none, so looking at the
// name before trying to link there saves a failed link per file in one case
// and costs nothing in the other. Either order gives the same result.
bool g_last_replaced = false;

// An unnamed file that must replace something gets a temporary name first,
// which the rename then moves over the final name.
Status name_temporarily(SafeOutput& output) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporary_name(output.state->temp_prefix);
        arm_pending(output.state->directory_fd, name);
        if (link_anonymous(output.state->fd, output.state->directory_fd, name) == 0) {
            output.state->temp_name = std::move(name);
            return kSucceeded;
        }
        const int error = errno;
        disarm_pending();
        if (error != EEXIST) return failed(Failure::naming, error);
    }
    return failed(Failure::naming, EEXIST);
}

}  // namespace

void safe_output_install_interrupt_cleanup() {
    struct sigaction cleanup {};
    cleanup.sa_handler = remove_pending_and_end;
    // No second signal runs the handler while it is running.
    sigfillset(&cleanup.sa_mask);
    for (const int signal_number : kEndingSignals) catch_unless_ignored(signal_number, cleanup);
#if defined(SIGRTMIN) && defined(SIGRTMAX)
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
        catch_unless_ignored(signal_number, cleanup);
#endif
}

void safe_output_use_named_temporaries(bool named) { g_named_temporaries_only = named; }

// Temporaries here are never marked: a signal handler removes them.
bool safe_output_marks_after_creation(const DirectoryHandle&) { return false; }

namespace {

// Both ways of opening; `source`, where given, is what a copy is limited to.
Status open_output(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                   const char* temp_prefix, unsigned permissions, const InputFile* source) {
    safe_output_discard(output);
    if (directory.fd < 0) return failed(Failure::directory, EBADF);
    const std::vector<std::string_view> components = path_components(relative_name);
    // A name ending in a separator names a directory, never a file.
    if (components.empty() || ends_in_separator(relative_name)) return failed(Failure::name_refused, EISDIR);

    int directory_fd = directory.fd;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        const std::string component(components[i]);
        // O_NOFOLLOW: a link standing as a subdirectory could lead anywhere.
        const int next = openat(directory_fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return discarded(output, last_failure(Failure::directory));
        if (output.state->owns_directory) close(directory_fd);
        directory_fd = next;
        output.state->directory_fd = next;
        output.state->owns_directory = true;
    }
    output.state->directory_fd = directory_fd;
    output.state->final_name = std::string(components.back());
    output.state->temp_prefix = temp_prefix;
    const auto mode = static_cast<mode_t>(permissions & 0777);
    foresee_new_file(output, directory, mode);
    output.state->fd = open_anonymous(directory_fd, mode);
    output.state->anonymous = output.state->fd >= 0;
    if (!output.state->anonymous) output.state->fd = create_named_temporary(directory_fd, temp_prefix, mode, output.state->temp_name);
    if (output.state->fd < 0) return discarded(output, last_failure(Failure::creating));
    // Before the first byte is written, while a named temporary is still
    // empty.
    output.state->source_owner = source != nullptr ? source->owner : -1;
    if (source != nullptr) {
        const Status limited = limit_to_source(output, *source);
        if (!limited) return discarded(output, limited);
    }
    return kSucceeded;
}

}  // namespace

SafeOutput::SafeOutput() : state(std::make_unique<SafeOutputState>()) {}

SafeOutput::~SafeOutput() { safe_output_discard(*this); }

Status safe_output_open(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                        const char* temp_prefix, unsigned permissions) {
    return open_output(output, directory, relative_name, temp_prefix, permissions, nullptr);
}

Status safe_output_open_copy(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                             const char* temp_prefix, const InputFile& source) {
    return open_output(output, directory, relative_name, temp_prefix, source.permissions, &source);
}

Status safe_output_write(SafeOutput& output, const void* data, size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t put = write(output.state->fd, bytes, length);
        if (put < 0 && errno == EINTR) continue;
        // A write that takes nothing and reports no error would loop for
        // ever; it is an error like any other.
        if (put <= 0) return discarded(output, failed(Failure::writing, put < 0 ? errno : 0));
        bytes += put;
        length -= static_cast<size_t>(put);
    }
    return kSucceeded;
}

Status safe_output_copy_from(SafeOutput& output, InputFile& source, int64_t offset, int64_t length) {
    if (length <= 0) return kSucceeded;
    if (output.state->fd < 0) return discarded(output, failed(Failure::writing, EBADF));
    if (offset < 0) return discarded(output, failed(Failure::reading, EINVAL));
#ifdef __linux__
    // In-kernel copy: no trip through user memory, and reflinks where the
    // file system has them. Whatever it cannot do, or fails at, the block
    // copy does or meets again, and then tells the source's failure from
    // the output's.
    auto position = static_cast<off_t>(offset);
    while (length > 0) {
        const auto want = static_cast<size_t>(std::min<int64_t>(length, 1 << 30));
        const ssize_t moved = copy_file_range(source.fd, &position, output.state->fd, nullptr, want, 0);
        if (moved < 0 && errno == EINTR) continue;
        if (moved <= 0) return copy_by_blocks(output, source, static_cast<int64_t>(position), length);
        length -= moved;
    }
    return kSucceeded;
#else
    return copy_by_blocks(output, source, offset, length);
#endif
}

// Names the complete file. An unnamed file takes its final name directly
// when nothing stands there. Otherwise what stands there is judged first; a
// file is then replaced by a rename from a temporary name, carrying what the
// old file carried.
Status safe_output_commit(SafeOutput& output) {
    if (output.state->fd < 0) return discarded(output, failed(Failure::naming, EBADF));
    bool in_place = false;
    struct stat found {};
    Existing existing = Existing::nothing;
    bool looked = false;
    if (output.state->anonymous && g_last_replaced) {
        existing = examine_existing(output.state->directory_fd, output.state->final_name, found);
        looked = true;
    }
    if (output.state->anonymous && existing == Existing::nothing) {
        if (link_anonymous(output.state->fd, output.state->directory_fd, output.state->final_name) == 0)
            in_place = true;
        else if (errno != EEXIST)
            return discarded(output, last_failure(Failure::naming));
        else
            looked = false;  // something came since the look
    }
    if (!in_place && !looked) existing = examine_existing(output.state->directory_fd, output.state->final_name, found);
    g_last_replaced = !in_place;
    switch (existing) {
        case Existing::cannot_replace: return discarded(output, failed(Failure::cannot_replace, EISDIR));
        case Existing::regular_file: {
            // An old copy someone other than the source's owner owns is
            // replaced by the new copy as it was made, limited to its source.
            if (output.state->source_owner >= 0 && output.state->source_owner != static_cast<int64_t>(found.st_uid)) break;
            const Status carried = carry_protection(output, found);
            if (!carried) return discarded(output, carried);
            break;
        }
        case Existing::nothing:
        case Existing::replaceable: break;
    }
    if (!in_place && output.state->anonymous) {
        const Status named = name_temporarily(output);
        if (!named) return discarded(output, named);
    }
    // From here to the rename a kill leaves the complete file under its
    // temporary name: only the close stands between.
    const int closed = close(output.state->fd);
    output.state->fd = -1;
    if (closed != 0) {
        const Status status = last_failure(Failure::writing);
        // Nothing stood at the final name before, so taking it back away
        // loses nothing.
        if (in_place) unlinkat(output.state->directory_fd, output.state->final_name.c_str(), 0);
        return discarded(output, status);
    }
    if (!in_place) {
        if (renameat(output.state->directory_fd, output.state->temp_name.c_str(), output.state->directory_fd,
                     output.state->final_name.c_str()) != 0) {
            // A directory that appeared at the name since it was judged, or
            // a folder that lets the user add files but not remove another
            // user's (sticky).
            const bool blocked = errno == EISDIR || errno == EBUSY || errno == EPERM || errno == EACCES;
            return discarded(output, last_failure(blocked ? Failure::cannot_replace : Failure::naming));
        }
        output.state->temp_name.clear();
        disarm_pending();
    }
    output.state->anonymous = false;
    safe_output_discard(output);
    return kSucceeded;
}

void safe_output_discard(SafeOutput& output) {
    close_quietly(output.state->fd);
    output.state->anonymous = false;
    output.state->made_known = false;
    if (output.state->directory_fd >= 0 && !output.state->temp_name.empty()) {
        unlinkat(output.state->directory_fd, output.state->temp_name.c_str(), 0);
        disarm_pending();
    }
    output.state->temp_name.clear();
    if (output.state->owns_directory) close_quietly(output.state->directory_fd);
    output.state->directory_fd = -1;
    output.state->owns_directory = false;
}
