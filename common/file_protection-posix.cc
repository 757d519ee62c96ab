// What a written file is given so that it is never more open than the file
// it replaces or the source it copies (file_protection-posix.h).

#include "common/file_protection-posix.h"

#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <string_view>
#include <vector>

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

// The old file as the calls on extended attributes reach it: by a path
// through the folder's descriptor in /proc, which needs no permission on the
// file itself; where /proc is missing, through the file opened for reading.
struct OldFile {
    OldFile() = default;
    OldFile(const OldFile&) = delete;
    OldFile& operator=(const OldFile&) = delete;
    ~OldFile() { close_quietly(fd); }
    std::string path;
    int fd = -1;
};

bool reach_old_file(OldFile& old, int directory_fd, const std::string& name) {
    static const bool proc_paths = access("/proc/self/fd", X_OK) == 0;
    if (proc_paths) {
        old.path = "/proc/self/fd/" + std::to_string(directory_fd) + "/" + name;
        return true;
    }
    old.fd = openat(directory_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    return old.fd >= 0;
}

ssize_t list_attributes(const OldFile& old, char* list, size_t size) {
    return old.fd >= 0 ? flistxattr(old.fd, list, size) : llistxattr(old.path.c_str(), list, size);
}

ssize_t get_attribute(const OldFile& old, const char* name, void* value, size_t size) {
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
bool carried_names(const OldFile& old, std::vector<std::string>& names) {
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

}  // namespace

Status limit_to_source(int fd, const InputFile& source, bool& acl_cleared) {
#ifdef __linux__
    if (!drop_acl(fd)) return last_failure(Failure::creating);
    acl_cleared = true;
#else
    acl_cleared = false;
#endif
    struct stat made;
    if (fstat(fd, &made) != 0) return last_failure(Failure::creating);
    if (source.group < 0 || static_cast<int64_t>(made.st_gid) == source.group) return kSucceeded;
    if (fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(source.group)) == 0) return kSucceeded;
    const mode_t bits = made.st_mode & 0777;
    if (group_no_more_than_others(bits) != bits && fchmod(fd, group_no_more_than_others(bits)) != 0)
        return last_failure(Failure::creating);
    return kSucceeded;
}

// The order matters: an inherited ACL goes before the bits are judged; the
// bits are set before the users' attributes, whose setting needs write
// permission; a carried ACL sets the bits again, as the old file had them.
Status carry_protection(int fd, int directory_fd, const std::string& name, const struct stat& old,
                        bool acl_cleared) {
    const auto refused = [](int error) { return failed(Failure::cannot_replace, error); };
#ifdef __linux__
    OldFile old_file;
    std::vector<std::string> names;
    if (!reach_old_file(old_file, directory_fd, name) || !carried_names(old_file, names)) return refused(errno);
    bool old_acl = false;
    for (const std::string& carried : names) old_acl = old_acl || carried == kAccessAcl;
    if (!old_acl && !acl_cleared && !drop_acl(fd)) return refused(errno);
#else
    (void)directory_fd;
    (void)name;
    (void)acl_cleared;
#endif
    struct stat made;
    if (fstat(fd, &made) != 0) return refused(errno);
    bool group_kept = made.st_gid == old.st_gid;
    if (made.st_uid != old.st_uid || !group_kept) {
        // Root keeps both; a member of the old group keeps the group.
        if (fchown(fd, old.st_uid, old.st_gid) == 0)
            group_kept = true;
        else if (!group_kept)
            group_kept = fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
    }
    const mode_t wanted = group_kept ? old.st_mode & 0777 : group_no_more_than_others(old.st_mode & 0777);
    if ((made.st_mode & 07777) != wanted && fchmod(fd, wanted) != 0) return refused(errno);
#ifdef __linux__
    std::vector<char> value;
    for (const std::string& carried : names) {
        const auto get = [&](char* buffer, size_t size) {
            return get_attribute(old_file, carried.c_str(), buffer, size);
        };
        if (!read_sized(value, get)) {
            if (errno == ENODATA) continue;  // removed from the old file meanwhile
            return refused(errno);
        }
        if (fsetxattr(fd, carried.c_str(), value.data(), value.size(), 0) != 0) return refused(errno);
    }
    // A carried ACL set the bits to the old file's, group included.
    if (old_acl && wanted != (old.st_mode & 0777) && fchmod(fd, wanted) != 0) return refused(errno);
#endif
    return kSucceeded;
}
