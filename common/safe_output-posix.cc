// The safe output on POSIX systems (safe_output.h tells the contract): a
// file is written under a temporary name, created exclusively beside its
// final name, and renamed over that name when complete, or, where the
// system has them (safe_output-linux.cc), written as an unnamed file and
// linked in. What stands at the final name is opened once and judged, and
// what it carries is given to the new file (file_protection-posix.h). A
// signal that ends the program removes a named temporary first
// (pending_temporary-posix.h).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "common/file_protection-posix.h"
#include "common/pending_temporary-posix.h"
#include "common/safe_output_parts.h"
#include "common/safe_output_state-posix.h"
#include "common/system_call.h"
#include "common/test_hooks.h"

namespace {

// What the folders written to have shown (FolderWays), the most recent
// first found: the programs write into a few folders at a time.
FolderWays g_folders[8];
size_t g_next_folder = 0;

// What the folder open as `directory_fd` (by the caller's handle's
// `opening`, or 0) has shown before, or nothing yet.
FolderWays folder_ways(int directory_fd, uint64_t opening) {
    for (const FolderWays& ways : g_folders)
        if (ways.directory_fd == directory_fd && ways.opening == opening) return ways;
    FolderWays& fresh = g_folders[g_next_folder++ % std::size(g_folders)];
    fresh = FolderWays{};
    fresh.directory_fd = directory_fd;
    fresh.opening = opening;
    return fresh;
}

// Keeps what one file showed of its folder for the next file there.
void keep_folder_ways(const FolderWays& shown) {
    for (FolderWays& ways : g_folders)
        if (ways.directory_fd == shown.directory_fd && ways.opening == shown.opening) ways = shown;
}

// Creates a new temporary under a fresh name, exclusively: a name that is
// taken, by a file or by a link, is never opened. Returns its descriptor and
// name, or -1 with errno.
int create_named_temporary(int directory_fd, const char* temp_prefix, mode_t permissions, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temporary_name_hook != nullptr ? temporary_name_hook(temp_prefix) : temporary_name(temp_prefix);
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

// Whether `relative_name` names a file below the directory and nowhere
// else: not absolute, no "." or ".." on the way, not ending in a separator
// (which names a directory). Its components are left in `components`.
bool stays_below(const std::string& relative_name, std::vector<std::string_view>& components) {
    components = path_components(relative_name);
    if (components.empty() || ends_in_separator(relative_name) || is_path_separator(relative_name.front()))
        return false;
    for (const std::string_view component : components)
        if (component == "." || component == "..") return false;
    return true;
}

// Opens the subdirectories on the way to the file, each never through a
// link, which could lead anywhere; the last one holds the file.
Status open_subdirectories(SafeOutputState& output, int directory_fd, uint64_t opening,
                           const std::vector<std::string_view>& components) {
    output.directory_fd = directory_fd;
    output.opening = opening;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        const std::string component(components[i]);
        const int next =
            openat(output.directory_fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return last_failure(Failure::directory);
        if (output.owns_directory) close(output.directory_fd);
        output.directory_fd = next;
        output.owns_directory = true;
        output.opening = 0;
    }
    return kSucceeded;
}

// Whether the new file is made under its temporary name from the start, its
// bits withheld (safe_output_open): a small file in a folder whose last file
// replaced one and whose first file showed what a new file gets there. Made
// with no bits for its group or others, it lets no one else open it while
// it is written, whatever the folder gives new files: a default ACL's mask
// and other entry are cut to nothing as well.
bool withholds_bits(const SafeOutputState& output, mode_t mode, int64_t expected_size) {
    const NewFileShape& shape = output.ways.shape;
    return expected_size >= 0 && expected_size <= kSmallOutputBytes && output.ways.last_replaced && shape.known &&
           shape.asked == static_cast<unsigned>(mode);
}

// Makes the new file, unnamed where the folder allows, else under a
// temporary name. A file that will replace another is unnamed too, since a
// named one could be opened by anyone its folder's default ACL lets in
// before the ACL it inherited is taken off, and a kill would leave it; only
// a small one is named from the start, its bits withheld, which shuts every
// such ACL out and leaves a kill a few calls to catch it in.
Status create_file(SafeOutputState& output, mode_t mode, int64_t expected_size) {
    output.ways = folder_ways(output.directory_fd, output.opening);
    output.asked_mode = static_cast<unsigned>(mode);
    output.bits_withheld = withholds_bits(output, mode, expected_size);
    if (output.bits_withheld) {
        // The folder gave its last file `shape.mode` for these bits, with no
        // ACL, so it gives this one the owner's part of them.
        const NewFileShape& shape = output.ways.shape;
        output.fd = create_named_temporary(output.directory_fd, output.temp_prefix, mode & 0700, output.temp_name);
        output.made_known = true;
        output.made_group = shape.group;
        output.made_mode = shape.mode & 0700;
        output.folder_mode = shape.mode;
    } else {
        output.fd = open_unnamed(output.ways, output.directory_fd, mode);
        output.unnamed = output.fd >= 0;
        if (!output.unnamed)
            output.fd = create_named_temporary(output.directory_fd, output.temp_prefix, mode, output.temp_name);
    }
    if (output.fd < 0) return last_failure(Failure::creating);
    keep_folder_ways(output.ways);
    return kSucceeded;
}

// Both ways of opening; `source`, where given, is what a copy is limited to.
Status open_output(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                   const char* temp_prefix, unsigned permissions, const InputFile* source, int64_t expected_size) {
    safe_output_discard(output);
    SafeOutputState& state = *output.state;
    if (directory.fd < 0) return failed(Failure::directory, EBADF);
    std::vector<std::string_view> components;
    if (!stays_below(relative_name, components)) return failed(Failure::name_refused, EINVAL);
    Status status = open_subdirectories(state, directory.fd, directory.opening, components);
    state.final_name = std::string(components.back());
    state.temp_prefix = temp_prefix;
    if (status) status = create_file(state, static_cast<mode_t>(permissions & 0777), expected_size);
    // Before the first byte is written, while a named temporary is still
    // empty.
    state.source_owner = source != nullptr ? source->owner : -1;
    if (status && source != nullptr) status = limit_to_source(state, *source);
    return status ? status : discarded(output, status);
}

// An unnamed file that must replace something gets a temporary name first,
// which the rename then moves over the final name.
Status name_temporarily(SafeOutputState& output) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporary_name(output.temp_prefix);
        arm_pending(output.directory_fd, name);
        if (link_unnamed(output.ways, output.fd, output.directory_fd, name) == 0) {
            output.temp_name = std::move(name);
            return kSucceeded;
        }
        const int error = errno;
        disarm_pending();
        if (error != EEXIST) return failed(Failure::naming, error);
    }
    return failed(Failure::naming, EEXIST);
}

// Closes the complete file: the last moment a full disk can say that its
// bytes did not all arrive.
Status close_file(SafeOutputState& output) {
    const int closed = close(output.fd);
    output.fd = -1;
    return closed == 0 ? kSucceeded : last_failure(Failure::writing);
}

// Links the unnamed file under its final name where nothing stands there:
// true when that settled the commit, with its status in `status`; false
// when something stands there, for the replacement to judge.
bool link_in_place(SafeOutputState& output, Status& status) {
    if (link_unnamed(output.ways, output.fd, output.directory_fd, output.final_name) != 0) {
        if (errno == EEXIST) return false;
        status = last_failure(Failure::naming);
        return true;
    }
    output.unnamed = false;
    output.ways.last_replaced = false;
    status = close_file(output);
    // Nothing stood at the final name before, so taking it back away loses
    // nothing.
    if (!status) unlinkat(output.directory_fd, output.final_name.c_str(), 0);
    return true;
}

// Closes the complete file, as close_file does, while a second handle to it
// stays open as `fd` to carry what a file that comes at its name meanwhile
// would have it carry.
Status close_keeping_a_handle(SafeOutputState& output) {
    const int kept = fcntl(output.fd, F_DUPFD_CLOEXEC, 0);
    if (kept < 0) return last_failure(Failure::naming);
    const Status closed = close_file(output);
    output.fd = kept;
    return closed;
}

// What a refused rename says: a directory at the final name, or a folder
// that lets the user add files but not remove another user's (sticky), is
// not the disk's fault.
Status rename_failure() {
    const bool blocked = errno == EISDIR || errno == EBUSY || errno == EPERM || errno == EACCES;
    return last_failure(blocked ? Failure::cannot_replace : Failure::naming);
}

// Renames the named file, closed and with its withheld bits given, to its
// final name where nothing stands there, by a rename that replaces nothing:
// as link_in_place says.
bool rename_in_place(SafeOutputState& output, Status& status) {
    status = output.bits_withheld ? give_withheld_bits(output) : kSucceeded;
    if (status) status = close_keeping_a_handle(output);
    if (!status) return true;
    if (rename_without_replacing(output.ways, output.directory_fd, output.temp_name, output.final_name) != 0) {
        if (errno == EEXIST) return false;
        status = rename_failure();
        return true;
    }
    output.temp_name.clear();
    disarm_pending();
    output.ways.last_replaced = false;
    close_quietly(output.fd);
    return true;
}

// Judges what stands at the final name and gives the new file what a
// regular file there carries, or else what a new file gets. An old copy
// someone other than the source's owner owns is replaced by the new copy as
// it was made, limited to its source.
Status take_over(SafeOutputState& output, Existing existing, const OldFile& old) {
    if (existing == Existing::cannot_replace) return failed(Failure::cannot_replace, old.error);
    const bool carries = existing == Existing::regular_file &&
                         (output.source_owner < 0 || output.source_owner == static_cast<int64_t>(old.info.st_uid));
    if (carries) return carry_protection(output, old);
    return output.bits_withheld ? give_withheld_bits(output) : kSucceeded;
}

// Puts the file, named temporarily, over whatever stands at its final name;
// a directory that appeared there since it was judged refuses.
Status replace_by_rename(SafeOutputState& output, Existing existing, const OldFile& old) {
    output.ways.last_replaced = existing != Existing::nothing;
    Status status = take_over(output, existing, old);
    if (status && output.unnamed) status = name_temporarily(output);
    // From here to the rename a kill leaves the complete file under its
    // temporary name: only the close stands between.
    if (status) status = close_file(output);
    if (!status) return status;
    if (renameat(output.directory_fd, output.temp_name.c_str(), output.directory_fd, output.final_name.c_str()) != 0)
        return rename_failure();
    output.temp_name.clear();
    disarm_pending();
    return kSucceeded;
}

// The commit's steps. A run over its own earlier output replaces every
// file, a first run none, so the way the folder's last file took is tried
// first: that saves a failed call per file in either run, and either order
// gives the same result.
Status commit_steps(SafeOutputState& output) {
    Status status;
    if (output.unnamed && !output.ways.last_replaced && link_in_place(output, status)) return status;
    OldFile old;
    Existing existing = open_existing(output.directory_fd, output.final_name, old);
    if (safe_output_replace_hook != nullptr) safe_output_replace_hook(output.final_name);
    if (existing == Existing::nothing) {
        if (output.unnamed ? link_in_place(output, status) : rename_in_place(output, status)) return status;
        existing = open_existing(output.directory_fd, output.final_name, old);  // one came since the look
    }
    return replace_by_rename(output, existing, old);
}

}  // namespace

// Temporaries here are never marked: a signal handler removes them.
bool safe_output_marks_after_creation(const DirectoryHandle&) { return false; }

SafeOutput::SafeOutput() : state(std::make_unique<SafeOutputState>()) {}

SafeOutput::~SafeOutput() { safe_output_discard(*this); }

Status safe_output_open(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                        const char* temp_prefix, unsigned permissions, int64_t expected_size) {
    return open_output(output, directory, relative_name, temp_prefix, permissions, nullptr, expected_size);
}

Status safe_output_open_copy(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                             const char* temp_prefix, const InputFile& source) {
    return open_output(output, directory, relative_name, temp_prefix, source.permissions, &source, source.size);
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

// The kernel copies what it can; whatever it cannot do, or fails at, the
// block copy does or meets again, and then tells the source's failure from
// the output's.
Status safe_output_copy_from(SafeOutput& output, InputFile& source, int64_t offset, int64_t length) {
    if (length <= 0) return kSucceeded;
    if (output.state->fd < 0) return discarded(output, failed(Failure::writing, EBADF));
    if (offset < 0) return discarded(output, failed(Failure::reading, EINVAL));
    copy_in_kernel(source.fd, output.state->fd, offset, length);
    return length > 0 ? copy_by_blocks(output, source, offset, length) : kSucceeded;
}

// Names the complete file: links it in place where nothing stands at its
// name, or else replaces what stands there by a rename.
Status safe_output_commit(SafeOutput& output) {
    SafeOutputState& state = *output.state;
    if (state.fd < 0) {
        safe_output_discard(output);
        return failed(Failure::naming, EBADF);
    }
    const Status status = commit_steps(state);
    keep_folder_ways(state.ways);
    safe_output_discard(output);
    return status;
}

void safe_output_discard(SafeOutput& output) {
    SafeOutputState& state = *output.state;
    close_quietly(state.fd);
    state.unnamed = false;
    state.made_known = false;
    state.bits_withheld = false;
    if (state.directory_fd >= 0 && !state.temp_name.empty()) {
        unlinkat(state.directory_fd, state.temp_name.c_str(), 0);
        disarm_pending();
    }
    state.temp_name.clear();
    if (state.owns_directory) close_quietly(state.directory_fd);
    state.directory_fd = -1;
    state.owns_directory = false;
}
