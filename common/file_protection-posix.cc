// What a written file is given so that it is never more open than the file
// it replaces or the source it copies (file_protection-posix.h): owner,
// group and permission bits, the part every POSIX system has.

#include "common/file_protection-posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/system_call.h"

namespace {

// The permission bits with the group's cut to what others have: for a file
// whose group is the runner's where it should have been another, so that
// the runner's group gets nothing the old group had and others lack.
mode_t group_no_more_than_others(mode_t mode) { return (mode & ~mode_t{070}) | (mode & ((mode & 07) << 3)); }

// Sets the permission bits of the new file `fd`. A file system that keeps
// none (FAT through FUSE answers ENOSYS) gives every file the same bits: a
// refusal there loses nothing as long as the file gives its group and others
// no more than `mode` would.
bool change_mode(int fd, mode_t mode) {
    if (fchmod(fd, mode) == 0) return true;
    const int error = errno;
    struct stat now;
    if (fstat(fd, &now) == 0 && (now.st_mode & 077 & ~mode) == 0) return true;
    errno = error;
    return false;
}

// What the new file got, asked of the file itself: where the folder decides
// a new file's group (setgid, a grpid mount, NFS) or its bits (a default
// ACL), nothing else tells.
bool read_back(SafeOutputState& output) {
    struct stat made;
    if (fstat(output.fd, &made) != 0) return false;
    output.made_known = true;
    output.made_group = static_cast<unsigned>(made.st_gid);
    output.made_mode = static_cast<unsigned>(made.st_mode & 07777);
    return true;
}

// Whether the runner owns the folder the new file is in, asked of the
// folder once per opening of it.
bool runner_owns_folder(SafeOutputState& output) {
    NewFileShape& shape = output.ways.shape;
    if (!shape.owner_known) {
        struct stat folder;
        shape.owner_known = true;
        shape.runner_owns = fstat(output.directory_fd, &folder) == 0 && folder.st_uid == runner_id();
    }
    return shape.runner_owns;
}

// The new file as made, less an ACL it took from its folder. What the
// folder's first file showed, where it may be kept (NewFileShape), answers
// for the next file asked with the same bits: the folder gives it the same.
bool learn_new_file(SafeOutputState& output) {
    if (output.made_known) return true;
    NewFileShape& shape = output.ways.shape;
    if (shape.known && shape.asked == output.asked_mode) {
        output.made_known = true;
        output.made_group = shape.group;
        output.made_mode = shape.mode;
        return true;
    }
    bool dropped = false;
    if (!drop_inherited_acl(output.fd, dropped) || !read_back(output)) return false;
    if (output.opening != 0 && !dropped && runner_owns_folder(output))
        shape = {true, true, true, output.asked_mode, output.made_mode, output.made_group};
    return true;
}

// Gives the new file the old file's owner and group where the process may:
// root keeps both, a member of the old group keeps the group. Whether the
// group is the old file's now.
bool take_owner(SafeOutputState& output, const struct stat& old) {
    const bool group_kept = output.made_group == old.st_gid;
    if (runner_id() == old.st_uid && group_kept) return true;
    if (fchown(output.fd, old.st_uid, old.st_gid) == 0) return true;
    return group_kept || fchown(output.fd, static_cast<uid_t>(-1), old.st_gid) == 0;
}

}  // namespace

OldFile::~OldFile() { close_quietly(fd); }

Existing open_existing(int directory_fd, const std::string& name, OldFile& old) {
    // O_NONBLOCK: a FIFO swapped in opens without a writer; O_NOCTTY: a
    // terminal never becomes the program's.
    constexpr int kLook = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    old.fd = openat(directory_fd, name.c_str(), O_RDONLY | kLook);
    bool writable = false;
    if (old.fd < 0 && errno == EACCES) {
        // One the user may write but not read: opening it for writing, not
        // truncated, changes nothing and answers the question itself.
        old.fd = openat(directory_fd, name.c_str(), O_WRONLY | kLook);
        writable = old.fd >= 0;
    }
    if (old.fd < 0) {
        old.error = errno;
        if (errno == ENOENT) return Existing::nothing;
        // A link (never followed), a socket, a FIFO or device without a driver.
        if (errno == ELOOP || errno == ENXIO || errno == ENODEV) return Existing::replaceable;
        return Existing::cannot_replace;
    }
    if (fstat(old.fd, &old.info) != 0) {
        old.error = errno;
        return Existing::cannot_replace;
    }
    old.error = EISDIR;
    if (S_ISDIR(old.info.st_mode)) return Existing::cannot_replace;
    if (!S_ISREG(old.info.st_mode)) return Existing::replaceable;
    old.error = EACCES;
    return writable || may_write_through(old.fd, old.info) ? Existing::regular_file : Existing::cannot_replace;
}

// A file whose bits are withheld keeps them withheld here (its group and
// others have nothing to narrow) and is given the narrowed ones at commit;
// one that took its source's ACL has that ACL's bits already.
Status limit_to_source(SafeOutputState& output, const InputFile& source) {
    if (!learn_new_file(output)) return last_failure(Failure::creating);
    bool acl_carried = false;
    mode_t group_bits = 070;
    if (!carry_source_acl(source.fd, output.fd, acl_carried, group_bits)) return last_failure(Failure::creating);
    // The ACL set the bits, its mask as the group's: asked again.
    if (acl_carried) {
        if (!read_back(output)) return last_failure(Failure::creating);
        output.bits_withheld = false;
    }
    bool group_kept = source.group < 0 || static_cast<int64_t>(output.made_group) == source.group;
    if (!group_kept && fchown(output.fd, static_cast<uid_t>(-1), static_cast<gid_t>(source.group)) == 0) {
        // What the file has now: an old copy it replaces asks for its own.
        output.made_group = static_cast<unsigned>(source.group);
        group_kept = true;
    }
    const auto narrowed = [&](mode_t mode) {
        const mode_t within = (mode & ~mode_t{070}) | (mode & group_bits);
        return group_kept ? within : group_no_more_than_others(within);
    };
    if (output.bits_withheld) {
        output.folder_mode = narrowed(output.folder_mode);
        return kSucceeded;
    }
    const mode_t wanted = narrowed(output.made_mode);
    if (wanted != output.made_mode && !change_mode(output.fd, wanted)) return last_failure(Failure::creating);
    output.made_mode = wanted;
    return kSucceeded;
}

Status give_withheld_bits(SafeOutputState& output) {
    if (output.made_mode != output.folder_mode && !change_mode(output.fd, output.folder_mode))
        return last_failure(Failure::naming);
    output.made_mode = output.folder_mode;
    return kSucceeded;
}

// The order matters: an inherited ACL goes before the bits are judged; the
// bits are set before the users' attributes, whose setting needs write
// permission; a carried ACL sets the bits again, as the old file had them.
Status carry_protection(SafeOutputState& output, const OldFile& old) {
    const auto refused = [](int error) { return failed(Failure::cannot_replace, error); };
    std::vector<CarriedAttribute> attributes;
    if (!read_carried_attributes(old.fd, attributes)) return refused(errno);
    if (!learn_new_file(output)) return refused(errno);
    const bool group_kept = take_owner(output, old.info);
    const mode_t wanted = group_kept ? old.info.st_mode & 0777 : group_no_more_than_others(old.info.st_mode & 0777);
    if (output.made_mode != wanted && !change_mode(output.fd, wanted)) return refused(errno);
    bool acl_carried = false;
    for (const CarriedAttribute& attribute : attributes) {
        if (!set_carried_attribute(output.fd, attribute)) return refused(errno);
        acl_carried = acl_carried || attribute.is_acl;
    }
    // A carried ACL set the bits to the old file's, group included.
    if (acl_carried && wanted != (old.info.st_mode & 0777) && !change_mode(output.fd, wanted)) return refused(errno);
    return kSucceeded;
}
