// What a written file is given so that it is never more open than the file
// it replaces or the source it copies (file_protection-posix.h).

#include "common/file_protection-posix.h"

#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <string_view>
#include <vector>

#include "common/safe_output_state-posix.h"
#include "common/system_call.h"

namespace {

// The permission bits with the group's cut to what others have: for a file
// whose group is the runner's where it should have been another, so that
// the runner's group gets nothing the old group had and others lack.
mode_t group_no_more_than_others(mode_t mode) { return (mode & ~mode_t{070}) | (mode & ((mode & 07) << 3)); }

#ifdef __linux__

constexpr const char* kAccessAcl = "system.posix_acl_access";

// The extended attributes a replaced file carries over: its ACL (POSIX or
// NFSv4) and its users' own attributes. Never security.* (a file capability
// is a privilege, a label is the policy's to give) nor trusted.* (root's).
bool is_carried_attribute(std::string_view name) {
    return name.starts_with("user.") || name == kAccessAcl || name == "system.nfs4_acl";
}

// The old file as the calls on extended attributes reach it: named through
// the folder's descriptor where the kernel has those calls (listxattrat,
// Linux 6.13), else by a path through the folder's descriptor in /proc,
// which needs no permission on the file itself; where /proc is missing,
// through the file opened for reading. The path or the opening is made only
// when first needed.
struct OldFile {
    OldFile(int folder, const std::string& file_name) : directory_fd(folder), name(file_name) {}
    OldFile(const OldFile&) = delete;
    OldFile& operator=(const OldFile&) = delete;
    ~OldFile() { close_quietly(fd); }
    int directory_fd;
    const std::string& name;
    std::string path;
    int fd = -1;
};

bool reach(OldFile& old) {
    static const bool proc_paths = access("/proc/self/fd", X_OK) == 0;
    if (old.fd >= 0 || !old.path.empty()) return true;
    if (proc_paths) {
        old.path = "/proc/self/fd/" + std::to_string(old.directory_fd) + "/" + old.name;
        return true;
    }
    old.fd = openat(old.directory_fd, old.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    return old.fd >= 0;
}

#if defined(SYS_listxattrat)
constexpr long kListAt = SYS_listxattrat;
#elif defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) || defined(__riscv)
constexpr long kListAt = 465;  // the same on every architecture that numbers new calls alike
#else
constexpr long kListAt = -1;
#endif

ssize_t list_attributes(OldFile& old, char* list, size_t size) {
    static bool list_at = kListAt >= 0;
    if (list_at) {
        const long listed = syscall(kListAt, old.directory_fd, old.name.c_str(), AT_SYMLINK_NOFOLLOW, list, size);
        // A kernel without the call says ENOSYS; a sandbox's filter that
        // does not know it may say EPERM, which listing a file never does.
        if (listed >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<ssize_t>(listed);
        list_at = false;
    }
    if (!reach(old)) return -1;
    return old.fd >= 0 ? flistxattr(old.fd, list, size) : llistxattr(old.path.c_str(), list, size);
}

ssize_t get_attribute(OldFile& old, const char* name, void* value, size_t size) {
    if (!reach(old)) return -1;
    return old.fd >= 0 ? fgetxattr(old.fd, name, value, size) : lgetxattr(old.path.c_str(), name, value, size);
}

// Fills `bytes` through `call(buffer, size)`, asking the size first, so that
// the kernel allocates nothing for the usual file, which has no attributes;
// a size that grows in between is asked again.
template <typename Call>
bool read_sized(std::vector<char>& bytes, Call call) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0) return false;
        bytes.resize(static_cast<size_t>(size));
        if (size == 0) return true;
        const ssize_t got = call(bytes.data(), bytes.size());
        if (got >= 0) {
            bytes.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
    return false;
}

// The names of the old file's attributes that are carried over; none on a
// file system without them, or for a file gone meanwhile (the rename then
// finds nothing to replace).
bool carried_names(OldFile& old, std::vector<std::string>& names) {
    std::vector<char> list;
    if (!read_sized(list, [&](char* buffer, size_t size) { return list_attributes(old, buffer, size); }))
        return errno == ENOTSUP || errno == ENOENT;
    for (size_t at = 0; at < list.size();) {
        const std::string_view name(list.data() + at);
        if (is_carried_attribute(name)) names.emplace_back(name);
        at += name.size() + 1;
    }
    return true;
}

// Takes away an ACL the new file `fd` took from its folder's default ACL,
// asking first: taking away an ACL that is not there still changes the file
// on some file systems.
bool drop_acl(int fd) {
    if (fgetxattr(fd, kAccessAcl, nullptr, 0) < 0) return errno == ENODATA || errno == ENOTSUP;
    return fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA;
}

#endif

mode_t process_umask() {
    // Read once, by setting it and setting it back: the programs run on one
    // thread, and nothing else changes it.
    static const mode_t mask = [] {
        const mode_t found = umask(0);
        umask(found);
        return found;
    }();
    return mask;
}

// What the new file has, asked of the file where it could not be foreseen.
bool learn_new_file(SafeOutput& output) {
    if (output.state->made_known) return true;
#ifdef __linux__
    if (!drop_acl(output.state->fd)) return false;
#endif
    struct stat made;
    if (fstat(output.state->fd, &made) != 0) return false;
    output.state->made_known = true;
    output.state->made_group = static_cast<unsigned>(made.st_gid);
    output.state->made_mode = static_cast<unsigned>(made.st_mode & 07777);
    return true;
}

}  // namespace

void foresee_new_file(SafeOutput& output, const DirectoryHandle& directory, unsigned requested) {
    output.state->made_known = false;
    if (directory.fd != output.state->directory_fd) return;
    struct stat folder;
    if (fstat(directory.fd, &folder) != 0) return;
#ifdef __linux__
    // Where a default ACL could be, the umask no longer decides.
    if (fgetxattr(directory.fd, "system.posix_acl_default", nullptr, 0) >= 0 || (errno != ENODATA && errno != ENOTSUP))
        return;
#endif
    static const gid_t runner_group = getegid();
    output.state->made_known = true;
    output.state->made_group = (folder.st_mode & S_ISGID) != 0 ? static_cast<unsigned>(folder.st_gid)
                                                                : static_cast<unsigned>(runner_group);
    output.state->made_mode = requested & 0777 & ~process_umask();
}

Status limit_to_source(SafeOutput& output, const InputFile& source) {
    if (!learn_new_file(output)) return last_failure(Failure::creating);
    if (source.group < 0 || static_cast<int64_t>(output.state->made_group) == source.group) return kSucceeded;
    if (fchown(output.state->fd, static_cast<uid_t>(-1), static_cast<gid_t>(source.group)) == 0) {
        output.state->made_group = static_cast<unsigned>(source.group);
        return kSucceeded;
    }
    const mode_t narrowed = group_no_more_than_others(output.state->made_mode);
    if (narrowed != output.state->made_mode && fchmod(output.state->fd, narrowed) != 0) return last_failure(Failure::creating);
    output.state->made_mode = narrowed;
    return kSucceeded;
}

// The order matters: an inherited ACL goes before the bits are judged; the
// bits are set before the users' attributes, whose setting needs write
// permission; a carried ACL sets the bits again, as the old file had them.
Status carry_protection(SafeOutput& output, const struct stat& old) {
    const auto refused = [](int error) { return failed(Failure::cannot_replace, error); };
    const int fd = output.state->fd;
#ifdef __linux__
    OldFile old_file(output.state->directory_fd, output.state->final_name);
    std::vector<std::string> names;
    if (!carried_names(old_file, names)) return refused(errno);
#endif
    if (!learn_new_file(output)) return refused(errno);
    static const uid_t runner = geteuid();
    bool group_kept = output.state->made_group == old.st_gid;
    if (runner != old.st_uid || !group_kept) {
        // Root keeps both; a member of the old group keeps the group.
        if (fchown(fd, old.st_uid, old.st_gid) == 0)
            group_kept = true;
        else if (!group_kept)
            group_kept = fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
    }
    const mode_t wanted = group_kept ? old.st_mode & 0777 : group_no_more_than_others(old.st_mode & 0777);
    if (output.state->made_mode != wanted && fchmod(fd, wanted) != 0) return refused(errno);
#ifdef __linux__
    std::vector<char> value;
    bool acl_carried = false;
    for (const std::string& carried : names) {
        const auto get = [&](char* buffer, size_t size) {
            return get_attribute(old_file, carried.c_str(), buffer, size);
        };
        if (!read_sized(value, get)) {
            if (errno == ENODATA) continue;  // removed from the old file meanwhile
            return refused(errno);
        }
        if (fsetxattr(fd, carried.c_str(), value.data(), value.size(), 0) != 0) return refused(errno);
        acl_carried = acl_carried || carried == kAccessAcl;
    }
    // A carried ACL set the bits to the old file's, group included.
    if (acl_carried && wanted != (old.st_mode & 0777) && fchmod(fd, wanted) != 0) return refused(errno);
#endif
    return kSucceeded;
}
