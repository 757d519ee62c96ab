// The ACLs and extended attributes a written file carries over on Linux,
// each read through the open file itself (file_protection-posix.h).

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/file_protection-posix.h"
#include "common/system_call.h"

namespace {

constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr const char* kNfs4Acl = "system.nfs4_acl";

// The extended attributes a replaced file carries over: its ACL (POSIX or
// NFSv4) and its users' own attributes. Never security.* (a file capability
// is a privilege, a label is the policy's to give) nor trusted.* (root's).
bool is_carried_attribute(std::string_view name) {
    return name.starts_with("user.") || name == kAccessAcl || name == kNfs4Acl;
}

// Whether `error` says the file system keeps no such attribute at all.
// (ENOTSUP is EOPNOTSUPP on Linux.)
bool keeps_none(int error) { return error == ENOTSUP || error == ENODATA; }

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

// Adds the attribute `name` of `fd` to `attributes`; one the file lacks
// (removed meanwhile, or never there) adds nothing.
bool add_attribute(int fd, const char* name, std::vector<CarriedAttribute>& attributes) {
    CarriedAttribute attribute{name, {}, std::string_view(name).starts_with("system.")};
    if (!read_sized(attribute.value, [&](char* buffer, size_t size) { return fgetxattr(fd, name, buffer, size); }))
        return keeps_none(errno);
    attributes.push_back(std::move(attribute));
    return true;
}

// The names of `fd`'s attributes that are carried over. A file system that
// lists none (FUSE, sshfs: ENOTSUP) or a sandbox that lets no listing
// through (EPERM, which listing never answers otherwise) still has its ACL
// asked for by name, so that neither refuses every replacement.
bool carried_names(int fd, std::vector<std::string>& names) {
    std::vector<char> list;
    if (!read_sized(list, [&](char* buffer, size_t size) { return flistxattr(fd, buffer, size); })) {
        if (errno != EPERM && errno != ENOTSUP) return false;
        names = {kAccessAcl, kNfs4Acl};
        return true;
    }
    for (size_t at = 0; at < list.size();) {
        const std::string_view name(list.data() + at);
        if (is_carried_attribute(name)) names.emplace_back(name);
        at += name.size() + 1;
    }
    return true;
}

// What a POSIX ACL as the kernel stores it (a version, then tag, permission
// and id entries) lets the owning group have: its entry's bits within the
// mask's, as bits of the group's place in a mode.
mode_t group_bits_of(const std::vector<char>& acl) {
    constexpr uint16_t kGroupObj = 0x04, kMask = 0x10;
    unsigned group = 7, mask = 7;
    const auto at = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(acl[i])); };
    for (size_t entry = 4; entry + 8 <= acl.size(); entry += 8) {
        const unsigned tag = at(entry) | (at(entry + 1) << 8);
        const unsigned permissions = at(entry + 2) & 7;
        if (tag == kGroupObj) group = permissions;
        if (tag == kMask) mask = permissions;
    }
    return static_cast<mode_t>((group & mask) << 3);
}

}  // namespace

bool read_carried_attributes(int fd, std::vector<CarriedAttribute>& attributes) {
    std::vector<std::string> names;
    if (!carried_names(fd, names)) return false;
    for (const std::string& name : names)
        if (!add_attribute(fd, name.c_str(), attributes)) return false;
    return true;
}

bool set_carried_attribute(int fd, const CarriedAttribute& attribute) {
    return fsetxattr(fd, attribute.name.c_str(), attribute.value.data(), attribute.value.size(), 0) == 0;
}

// Asks first: taking away an ACL that is not there still changes the file
// on some file systems.
bool drop_inherited_acl(int fd, bool& dropped) {
    dropped = false;
    if (fgetxattr(fd, kAccessAcl, nullptr, 0) < 0) return keeps_none(errno);
    dropped = true;
    return fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA;
}

// Asked of every source copied, which almost never has one: nothing is
// allocated until one is there.
bool carry_source_acl(int source_fd, int fd, bool& carried, mode_t& group_bits) {
    carried = false;
    std::vector<char> acl;
    if (!read_sized(acl, [&](char* buffer, size_t size) { return fgetxattr(source_fd, kAccessAcl, buffer, size); }))
        return keeps_none(errno);
    if (acl.empty()) return true;
    if (fsetxattr(fd, kAccessAcl, acl.data(), acl.size(), 0) == 0) {
        carried = true;
        return true;
    }
    if (!keeps_none(errno)) return false;
    group_bits = group_bits_of(acl);
    return true;
}

bool may_write_through(int fd, const struct stat& info) {
    // The look already answers for the user's own file that its owner may
    // write; only otherwise is the system asked, which knows ACLs and root.
    if (info.st_uid == runner_id() && (info.st_mode & S_IWUSR) != 0) return true;
    if (faccessat(fd, "", W_OK, AT_EACCESS | AT_EMPTY_PATH) == 0) return true;
    if (errno != EINVAL) return false;
    // A kernel before 5.8 asks by a path, which /proc makes the handle's.
    return faccessat(AT_FDCWD, descriptor_path(fd).text, W_OK, AT_EACCESS) == 0;
}
