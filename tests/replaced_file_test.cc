// A file that a run replaces keeps what opening it for writing would have
// kept: its permission bits (never setuid or setgid), owner, group, ACL and
// users' attributes; one the user may not write, or one in a sticky folder,
// is not replaced at all but reported as a file that could not be opened.
// A new copy is no more open than its source. Both programs, as processes,
// as root over another user's files and as an ordinary user, who may also
// meet folders that cannot be read or written.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <initializer_list>

#include "common/safe_output.h"
#include "common/test_hooks.h"
#include "pak_writer.h"
#include "test_support.h"

namespace {

unsigned mode_of(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<unsigned>(info.st_mode & 07777) : 0;
}

// "uid:gid mode" in octal, so one comparison shows all three.
std::string owner_and_mode(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return "missing";
    char text[64];
    std::snprintf(text, sizeof text, "%u:%u %04o", static_cast<unsigned>(info.st_uid),
                  static_cast<unsigned>(info.st_gid), static_cast<unsigned>(info.st_mode & 07777));
    return text;
}

// An ACL as the kernel stores it in system.posix_acl_access/_default: a
// version, then (tag, permissions, id) entries in tag order.
std::string acl_bytes(std::initializer_list<std::array<uint32_t, 3>> entries) {
    std::string bytes;
    const auto put = [&](uint32_t value, int size) {
        for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> (8 * i));
    };
    put(2, 4);
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[2], 4);
    }
    return bytes;
}
constexpr uint32_t kUserObj = 1, kUser = 2, kGroupObj = 4, kMask = 0x10, kOther = 0x20, kNoId = 0xFFFFFFFF;

bool set_attribute(const std::string& path, const char* name, const std::string& value) {
    return lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

// The attribute's bytes, or "none".
std::string attribute(const std::string& path, const char* name) {
    char value[512];
    const ssize_t got = lgetxattr(path.c_str(), name, value, sizeof value);
    return got < 0 ? "none" : std::string(value, static_cast<size_t>(got));
}

// Copies of the programs where any user may run them, or empty when an
// ordinary user cannot reach the scratch folder at all.
bool place_programs(const ScratchDir& scratch, std::string& scrambler, std::string& unpacker) {
    scrambler = scratch.path("bin/scrambler");
    unpacker = scratch.path("bin/unpacker");
    return make_dir(scratch.path("bin")) && std::filesystem::copy_file(SCRAMBLER_PATH, scrambler) &&
           std::filesystem::copy_file(UNPACKER_PATH, unpacker);
}

// Whether a user who owns none of them may pass through every folder above
// `path`, as the ordinary user must to reach the scratch folder.
bool others_can_reach(const std::string& path) {
    for (std::filesystem::path folder = std::filesystem::path(path).parent_path();;
         folder = folder.parent_path()) {
        struct stat info;
        if (stat(folder.c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0) return false;
        if (folder == folder.root_path()) return true;
    }
}

// A file system image made and mounted at `point` by `command` (as root),
// unmounted by `unmount` when the scene ends; `mounted` false where this
// machine cannot mount it (no loop devices, no FUSE, no tools).
struct MountedImage {
    MountedImage(const std::string& command, std::string unmount_command)
        : mounted(run_shell(command)), unmount(std::move(unmount_command)) {}
    ~MountedImage() {
        if (mounted) run_shell(unmount);
    }
    static bool run_shell(const std::string& command) {
        return run_program("/bin/sh", {"-c", command + " >/dev/null 2>&1"}, "").exit_status == 0;
    }
    MountedImage(const MountedImage&) = delete;
    MountedImage& operator=(const MountedImage&) = delete;
    bool mounted;
    std::string unmount;
};

}  // namespace

TEST(ReplacedFile, KeepsItsModeAndAReadOnlyOneStays) {
    const ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("tree")));
    ASSERT_TRUE(write_file(scratch.path("tree/a.txt"), "a"));
    ASSERT_TRUE(write_file(scratch.path("tree/b.txt"), "b"));
    ASSERT_TRUE(write_file(scratch.path("tree/c.txt"), "private"));
    ASSERT_EQ(chmod(scratch.path("tree/c.txt").c_str(), 0600), 0);
    ASSERT_TRUE(make_dir(scratch.path("game")));
    ASSERT_TRUE(write_file(scratch.path("game.pak"), make_pak({{"rw.dat", "new rw"}, {"ro.dat", "new ro"}})));
    for (const char* copy : {"tree/_o_a.txt", "game/ro.dat"}) {
        ASSERT_TRUE(write_file(scratch.path(copy), "old"));
        ASSERT_EQ(chmod(scratch.path(copy).c_str(), 0444), 0);
    }
    for (const char* copy : {"tree/_o_b.txt", "game/rw.dat"}) {
        ASSERT_TRUE(write_file(scratch.path(copy), "old"));
        ASSERT_EQ(chmod(scratch.path(copy).c_str(), 0600), 0);
    }
    // The programs run from the scratch folder: the build may lie where the
    // ordinary user cannot reach, as in a clone in a private folder.
    if (!others_can_reach(scratch.root)) GTEST_SKIP() << "an ordinary user cannot reach " << scratch.root;
    std::string scrambler;
    std::string unpacker;
    ASSERT_TRUE(place_programs(scratch, scrambler, unpacker));
    give_to_unprivileged_user(scratch.root);

    const ProcessResult scrambled_run = run_program_unprivileged(scrambler, {scratch.path("tree")}, "\n\n");
    EXPECT_EQ(scrambled_run.output, "press enter to start...a.txt ...error.\nb.txt ...done.\nc.txt ...done.\n"
                                    "successful.\n" + kPress);
    EXPECT_EQ(scrambled_run.exit_status, 1);
    EXPECT_EQ(read_file(scratch.path("tree/_o_a.txt")), "old");
    EXPECT_EQ(mode_of(scratch.path("tree/_o_a.txt")), 0444u);
    EXPECT_EQ(read_file(scratch.path("tree/_o_b.txt")), scrambled("b"));
    EXPECT_EQ(mode_of(scratch.path("tree/_o_b.txt")), 0600u);
    EXPECT_EQ(mode_of(scratch.path("tree/_o_c.txt")), 0600u);

    const ProcessResult unpacked_run = run_program_unprivileged(unpacker, {scratch.path("game.pak")}, "\n");
    EXPECT_NE(unpacked_run.output.find(": rw.dat ...done.\n"), std::string::npos) << unpacked_run.output;
    EXPECT_NE(unpacked_run.output.find(": ro.dat ...\nfile open error.\n" + kPress), std::string::npos);
    EXPECT_EQ(unpacked_run.exit_status, 1);
    EXPECT_EQ(read_file(scratch.path("game/ro.dat")), "old");
    EXPECT_EQ(mode_of(scratch.path("game/ro.dat")), 0444u);
    EXPECT_EQ(read_file(scratch.path("game/rw.dat")), "new rw");
    EXPECT_EQ(mode_of(scratch.path("game/rw.dat")), 0600u);
    EXPECT_EQ(list_names(scratch.path("game")), (std::vector<std::string>{"ro.dat", "rw.dat"}));
}

// As an ordinary user, folders that may not be read or written: one that
// cannot be read is passed over without a line, whether it is the folder
// given or one below it, and the status says so; the unpacker stops at the
// first entry, having written nothing, when its output folder is read-only
// or cannot be made beside an archive in a read-only folder.
TEST(ReplacedFile, FoldersThatMayNotBeReadOrWritten) {
    const ScratchDir scratch;
    if (!others_can_reach(scratch.root)) GTEST_SKIP() << "an ordinary user cannot reach " << scratch.root;
    std::string scrambler;
    std::string unpacker;
    ASSERT_TRUE(place_programs(scratch, scrambler, unpacker));
    for (const char* folder : {"tree", "tree/locked", "locked", "game", "read-only"})
        ASSERT_TRUE(make_dir(scratch.path(folder)));
    for (const char* file : {"tree/b.txt", "tree/locked/a.txt", "locked/a.txt"})
        ASSERT_TRUE(write_file(scratch.path(file), "a"));
    for (const char* archive : {"game.pak", "read-only/a.pak"})
        ASSERT_TRUE(write_file(scratch.path(archive), make_pak({{"x.dat", "x"}})));
    give_to_unprivileged_user(scratch.root);
    const std::pair<const char*, mode_t> modes[] = {{"tree/locked", 0}, {"locked", 0}, {"game", 0555}, {"read-only", 0555}};
    for (const auto& [path, mode] : modes) ASSERT_EQ(chmod(scratch.path(path).c_str(), mode), 0) << path;
    const std::string open_error = "files: 1\n00000110 - 00000110: x.dat ...\nfile open error.\n" + kPress;
    struct Case {
        const std::string& program;
        const char* argument;
        std::string expected;
    };
    const Case cases[] = {
        {scrambler, "tree", "press enter to start...b.txt ...done.\nsuccessful.\n" + kPress},
        {scrambler, "locked", "press enter to start...successful.\n" + kPress},
        {unpacker, "game.pak", open_error},
        {unpacker, "read-only/a.pak", open_error},
    };
    for (const Case& c : cases) {
        const ProcessResult run = run_program_unprivileged(c.program, {scratch.path(c.argument)}, "\n\n");
        EXPECT_EQ(run.output, c.expected) << c.argument;
        EXPECT_EQ(run.exit_status, 1) << c.argument;
    }
    for (const auto& [path, mode] : modes) ASSERT_EQ(chmod(scratch.path(path).c_str(), 0755), 0) << path;
    EXPECT_EQ(list_names(scratch.path("tree/locked")), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(list_names(scratch.path("locked")), std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(list_names(scratch.path("game")).empty());
    EXPECT_EQ(list_names(scratch.path("read-only")), std::vector<std::string>{"a.pak"});
}

// Root over a user's setgid folder with a default ACL: replaced copies stay
// the user's, lose setuid and setgid, and keep their ACL and attributes, or
// take none from the folder; a new copy of root's private file, reached by
// a link, takes its source's group and bits, not the folder's group or ACL.
TEST(ReplacedFile, RootKeepsTheOwnerAndAclButNoPrivilege) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand files to another user";
    const ScratchDir scratch;
    const ScratchDir outside;
    const std::string tree = scratch.path("tree");
    ASSERT_TRUE(make_dir(tree));
    ASSERT_TRUE(write_file(tree + "/a.txt", "a"));
    ASSERT_TRUE(write_file(tree + "/b.txt", "b"));
    ASSERT_TRUE(write_file(tree + "/_o_a.txt", "old"));
    ASSERT_TRUE(write_file(tree + "/_o_b.txt", "old"));
    ASSERT_TRUE(write_file(outside.path("secret.txt"), "secret"));
    ASSERT_EQ(chmod(outside.path("secret.txt").c_str(), 0640), 0);
    ASSERT_EQ(symlink(outside.path("secret.txt").c_str(), (tree + "/notes.txt").c_str()), 0);
    // The tree's owner plants an open copy beside a second link to the secret.
    ASSERT_EQ(symlink(outside.path("secret.txt").c_str(), (tree + "/diary.txt").c_str()), 0);
    ASSERT_TRUE(write_file(tree + "/_o_diary.txt", "planted"));
    ASSERT_TRUE(make_dir(scratch.path("game")));
    ASSERT_TRUE(write_file(scratch.path("game/x.dat"), "old"));
    ASSERT_TRUE(write_file(scratch.path("game.pak"), make_pak({{"x.dat", "new"}})));
    // Denies uid 1 what the owning group may do.
    const std::string denying = acl_bytes({{kUserObj, 6, kNoId}, {kUser, 0, 1}, {kGroupObj, 4, kNoId},
                                           {kMask, 4, kNoId}, {kOther, 0, kNoId}});
    const std::string inherited = acl_bytes({{kUserObj, 7, kNoId}, {kUser, 7, 1}, {kGroupObj, 5, kNoId},
                                             {kMask, 7, kNoId}, {kOther, 5, kNoId}});
    if (!set_attribute(tree + "/_o_b.txt", "system.posix_acl_access", denying) ||
        !set_attribute(tree + "/_o_a.txt", "user.note", "kept"))
        GTEST_SKIP() << "no ACLs or user attributes on " << scratch.root;
    give_to_unprivileged_user(scratch.root);
    ASSERT_TRUE(set_attribute(tree, "system.posix_acl_default", inherited));
    ASSERT_EQ(chmod((tree + "/_o_a.txt").c_str(), 04755), 0);
    ASSERT_EQ(chmod(scratch.path("game/x.dat").c_str(), 06775), 0);
    ASSERT_EQ(chmod(tree.c_str(), 02775), 0);
    ASSERT_EQ(chmod((tree + "/_o_diary.txt").c_str(), 0666), 0);

    const ProcessResult scrambled_run = run_program(SCRAMBLER_PATH, {tree}, "\n\n");
    EXPECT_EQ(scrambled_run.output, "press enter to start...a.txt ...done.\nb.txt ...done.\ndiary.txt ...done.\n"
                                    "notes.txt ...done.\n"
                                    "successful.\n" + kPress);
    EXPECT_EQ(read_file(tree + "/_o_a.txt"), scrambled("a"));
    EXPECT_EQ(owner_and_mode(tree + "/_o_a.txt"), "65534:65534 0755");
    EXPECT_EQ(attribute(tree + "/_o_a.txt", "user.note"), "kept");
    EXPECT_EQ(attribute(tree + "/_o_a.txt", "system.posix_acl_access"), "none");
    EXPECT_EQ(read_file(tree + "/_o_b.txt"), scrambled("b"));
    EXPECT_EQ(owner_and_mode(tree + "/_o_b.txt"), "65534:65534 0640");
    EXPECT_EQ(attribute(tree + "/_o_b.txt", "system.posix_acl_access"), denying);
    EXPECT_EQ(owner_and_mode(tree + "/_o_notes.txt"), "0:0 0640");
    EXPECT_EQ(owner_and_mode(tree + "/_o_diary.txt"), "0:0 0640");
    EXPECT_EQ(attribute(tree + "/_o_notes.txt", "system.posix_acl_access"), "none");

    const ProcessResult unpacked_run = run_program(UNPACKER_PATH, {scratch.path("game.pak")}, "\n");
    EXPECT_EQ(unpacked_run.exit_status, 0) << unpacked_run.output;
    EXPECT_EQ(read_file(scratch.path("game/x.dat")), "new");
    EXPECT_EQ(owner_and_mode(scratch.path("game/x.dat")), "65534:65534 0775");
}

// An ordinary user over another user's files: a replaced copy is the
// runner's, without setuid, its group (which the runner may not take) given
// no more than others, even where the old copy's ACL set the group's bits
// again; a copy whose attributes the runner cannot read, and one in a
// sticky folder, are not replaced (the unpacker says it could not open
// it); a new copy in a setgid folder gives that folder's group nothing, and
// takes its source's group where the runner may set it.
TEST(ReplacedFile, AnotherUsersFilesGiveTheRunnerNoMore) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of several users";
    const ScratchDir scratch;
    if (!others_can_reach(scratch.root)) GTEST_SKIP() << "an ordinary user cannot reach " << scratch.root;
    std::string scrambler;
    std::string unpacker;
    ASSERT_TRUE(place_programs(scratch, scrambler, unpacker));
    const std::string tree = scratch.path("tree");
    for (const char* folder : {"tree", "tree/setgid", "tree/sticky"}) ASSERT_TRUE(make_dir(scratch.path(folder)));
    for (const char* source : {"tree/x.txt", "tree/y.txt", "tree/u.txt", "tree/setgid/v.txt", "tree/setgid/w.txt",
                               "tree/sticky/z.txt"})
        ASSERT_TRUE(write_file(scratch.path(source), "new"));
    for (const char* copy : {"tree/_o_x.txt", "tree/_o_y.txt", "tree/_o_u.txt", "tree/sticky/_o_z.txt"})
        ASSERT_TRUE(write_file(scratch.path(copy), "old"));
    // Unpacked into the sticky folder: a new file is made, another user's is not replaced.
    ASSERT_TRUE(write_file(scratch.path("tree/sticky.pak"), make_pak({{"new.dat", "n"}, {"_o_z.txt", "unpacked"}})));
    const std::string reading = acl_bytes({{kUserObj, 6, kNoId}, {kUser, 4, 1}, {kGroupObj, 4, kNoId},
                                           {kMask, 4, kNoId}, {kOther, 0, kNoId}});
    if (!set_attribute(tree + "/_o_y.txt", "user.note", "unreadable") ||
        !set_attribute(tree + "/_o_u.txt", "system.posix_acl_access", reading))
        GTEST_SKIP() << "no user attributes or ACLs on " << scratch.root;
    give_to_unprivileged_user(scratch.root);
    constexpr unsigned kOtherUser = 4321;
    for (const char* path : {"tree/_o_x.txt", "tree/sticky", "tree/sticky/_o_z.txt", "tree/setgid"})
        ASSERT_EQ(chown(scratch.path(path).c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(chown(scratch.path("tree/setgid/w.txt").c_str(), kUnprivilegedId, kOtherUser + 1), 0);
    ASSERT_EQ(chown(scratch.path("tree/_o_u.txt").c_str(), kUnprivilegedId, kOtherUser), 0);
    const std::pair<const char*, mode_t> modes[] = {
        {"tree", 0777},          {"tree/setgid", 02777},         {"tree/sticky", 01777},     {"tree/_o_x.txt", 04772},
        {"tree/_o_y.txt", 0200}, {"tree/sticky/_o_z.txt", 0666}, {"tree/setgid/w.txt", 0640}, {"tree/setgid/v.txt", 0640}};
    for (const auto& [path, mode] : modes) ASSERT_EQ(chmod(scratch.path(path).c_str(), mode), 0) << path;

    const ProcessResult run = run_program_unprivileged(scrambler, {tree}, "\n\n");
    EXPECT_EQ(run.output, "press enter to start...u.txt ...done.\nx.txt ...done.\ny.txt ...error.\n"
                          "v.txt ...done.\nw.txt ...done.\nz.txt ...error.\nsuccessful.\n" + kPress);
    EXPECT_EQ(read_file(tree + "/_o_x.txt"), scrambled("new"));
    // Another user's old copy hands on nothing: the new one is the runner's,
    // as open as its source and no more.
    EXPECT_EQ(owner_and_mode(tree + "/_o_x.txt"), "65534:65534 0644");
    EXPECT_EQ(owner_and_mode(tree + "/_o_y.txt"), "65534:65534 0200");
    EXPECT_EQ(attribute(tree + "/_o_y.txt", "user.note"), "unreadable");
    EXPECT_EQ(owner_and_mode(tree + "/_o_u.txt"), "65534:65534 0600");
    EXPECT_EQ(read_file(tree + "/sticky/_o_z.txt"), "old");
    EXPECT_EQ(owner_and_mode(tree + "/setgid/_o_v.txt"), "65534:65534 0640");
    EXPECT_EQ(owner_and_mode(tree + "/setgid/_o_w.txt"), "65534:4321 0600");

    const ProcessResult unpacked = run_program_unprivileged(unpacker, {tree + "/sticky.pak"}, "\n");
    EXPECT_EQ(unpacked.output, "files: 2\n00000218 - 00000218: new.dat ...done.\n00000219 - 00000220: _o_z.txt ...\n"
                               "file open error.\n" + kPress);
    EXPECT_EQ(unpacked.exit_status, 1);
    EXPECT_EQ(read_file(tree + "/sticky/_o_z.txt"), "old");
    EXPECT_EQ(read_file(tree + "/sticky/new.dat"), "n");
    EXPECT_EQ(temporaries(list_names(tree)), std::vector<std::string>{});
    EXPECT_EQ(temporaries(list_names(tree + "/sticky")), std::vector<std::string>{});
}

namespace {

// The race of a user who may write in the folder: the old copy swapped,
// just after the safe output opened it, for the user's own file, which
// grants him the copy (renameat2 RENAME_EXCHANGE).
std::string g_swap_folder;

void swap_old_copy_for_planted(const std::string& final_name) {
    const std::string planted = g_swap_folder + "/planted";
    const std::string old = g_swap_folder + "/" + final_name;
    renameat2(AT_FDCWD, old.c_str(), AT_FDCWD, planted.c_str(), RENAME_EXCHANGE);
}

// One copy of `source` made in `folder` as the scrambler makes it.
bool copy_in_process(const std::string& folder, const std::string& source_path, const std::string& name) {
    DirectoryHandle directory;
    InputFile source;
    SafeOutput output;
    return open_directory(directory, folder) && open_input_file(source, source_path) &&
           safe_output_open_copy(output, directory, name, "_o_", source) && safe_output_write(output, "x", 1) &&
           safe_output_commit(output);
}

}  // namespace

// Root copies a file whose ACL denies its group what the mode's group bits
// (the ACL's mask) seem to allow: the copy carries that ACL, so group 50
// reads neither. Copied again while the tree's user swaps the old copy for
// his own file granting him access, the copy carries what the file root
// opened carried, not the planted file's ACL.
TEST(ReplacedFile, ACopyCarriesItsSourcesAclAndTheOldCopyIsReadOnce) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files other owners";
    const ScratchDir scratch;
    const std::string source = scratch.path("s.txt");
    ASSERT_TRUE(write_file(source, "secret"));
    ASSERT_EQ(chown(source.c_str(), 0, 50), 0);
    const std::string denying = acl_bytes({{kUserObj, 6, kNoId}, {kUser, 4, 1234}, {kGroupObj, 0, kNoId},
                                           {kMask, 4, kNoId}, {kOther, 0, kNoId}});
    if (!set_attribute(source, "system.posix_acl_access", denying)) GTEST_SKIP() << "no ACLs on " << scratch.root;
    ASSERT_EQ(mode_of(source), 0640u);

    ASSERT_TRUE(copy_in_process(scratch.root, source, "_o_s.txt"));
    EXPECT_EQ(owner_and_mode(scratch.path("_o_s.txt")), "0:50 0640");
    EXPECT_EQ(attribute(scratch.path("_o_s.txt"), "system.posix_acl_access"), denying);

    const std::string planted = scratch.path("planted");
    ASSERT_TRUE(write_file(planted, "mine"));
    ASSERT_EQ(chown(planted.c_str(), kUnprivilegedId, kUnprivilegedId), 0);
    const std::string granting = acl_bytes({{kUserObj, 6, kNoId}, {kUser, 6, kUnprivilegedId},
                                            {kGroupObj, 4, kNoId}, {kMask, 6, kNoId}, {kOther, 4, kNoId}});
    ASSERT_TRUE(set_attribute(planted, "system.posix_acl_access", granting));
    g_swap_folder = scratch.root;
    safe_output_replace_hook = swap_old_copy_for_planted;
    const bool copied = copy_in_process(scratch.root, source, "_o_s.txt");
    safe_output_replace_hook = nullptr;
    EXPECT_TRUE(copied);
    EXPECT_EQ(owner_and_mode(scratch.path("_o_s.txt")), "0:50 0640");
    EXPECT_EQ(attribute(scratch.path("_o_s.txt"), "system.posix_acl_access"), denying);
}

// A small copy made under its temporary name from the start (after a
// replaced copy in its folder) ends as open as one made unnamed: one whose
// source has an ACL keeps that ACL, whatever the umask would have given;
// one whose source's group the runner may not take gives its own group no
// more than others have. A copy replacing the runner's own old copy keeps
// that copy's group, not its source's.
TEST(ReplacedFile, ASmallCopyNamedFromTheStartIsNoMoreOpenThanItsSource) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files other owners";
    const ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("tree")));
    for (const char* source : {"a.txt", "s.txt", "tree/a.txt", "tree/s.txt"}) {
        ASSERT_TRUE(write_file(scratch.path(source), "new"));
        ASSERT_EQ(chmod(scratch.path(source).c_str(), 0640), 0);
    }
    ASSERT_EQ(chown(scratch.path("s.txt").c_str(), 0, 50), 0);
    const std::string denying = acl_bytes({{kUserObj, 6, kNoId}, {kUser, 4, 1234}, {kGroupObj, 0, kNoId},
                                           {kMask, 4, kNoId}, {kOther, 0, kNoId}});
    if (!set_attribute(scratch.path("s.txt"), "system.posix_acl_access", denying))
        GTEST_SKIP() << "no ACLs on " << scratch.root;
    DirectoryHandle top;
    ASSERT_TRUE(open_directory(top, scratch.root));
    const auto copy = [&](const char* source_name) {
        InputFile source;
        SafeOutput output;
        return open_input_file(source, scratch.path(source_name)) &&
               safe_output_open_copy(output, top, std::string("_o_") + source_name, "_o_", source) &&
               safe_output_write(output, "x", 1) && safe_output_commit(output);
    };
    const mode_t before = umask(077);
    bool copied = true;
    for (const char* source_name : {"a.txt", "a.txt", "s.txt"}) copied = copied && copy(source_name);
    umask(before);
    ASSERT_TRUE(copied);
    EXPECT_EQ(owner_and_mode(scratch.path("_o_s.txt")), "0:50 0640");
    EXPECT_EQ(attribute(scratch.path("_o_s.txt"), "system.posix_acl_access"), denying);
    const std::string mine = scratch.path("mine");
    ASSERT_TRUE(make_dir(mine) && write_file(mine + "/g.txt", "private") && write_file(mine + "/_o_g.txt", "old"));
    ASSERT_EQ(chown((mine + "/g.txt").c_str(), 0, 50), 0);
    ASSERT_EQ(chmod((mine + "/g.txt").c_str(), 0600), 0);
    ASSERT_EQ(chmod((mine + "/_o_g.txt").c_str(), 0640), 0);
    EXPECT_EQ(run_program(SCRAMBLER_PATH, {mine}, "\n\n").exit_status, 0);
    EXPECT_EQ(owner_and_mode(mine + "/_o_g.txt"), "0:0 0640");

    // The ordinary user's own tree, its s.txt in root's group: a second run,
    // with that copy gone, makes it anew right after replacing a.txt's.
    if (!others_can_reach(scratch.root)) GTEST_SKIP() << "an ordinary user cannot reach " << scratch.root;
    std::string scrambler;
    std::string unpacker;
    ASSERT_TRUE(place_programs(scratch, scrambler, unpacker));
    give_to_unprivileged_user(scratch.root);
    const std::string tree = scratch.path("tree");
    ASSERT_EQ(chown((tree + "/s.txt").c_str(), kUnprivilegedId, 0), 0);
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(::unlink((tree + "/_o_s.txt").c_str()) == 0 || run == 0);
        EXPECT_EQ(run_program_unprivileged(scrambler, {tree}, "\n\n").exit_status, 0);
        EXPECT_EQ(owner_and_mode(tree + "/_o_s.txt"), "65534:65534 0600") << run;
    }
}

// On a grpid mount a folder gives new files its group, setgid bit or not:
// copies and replaced files keep their source's or old file's group all
// the same, since the group is read back from the file.
TEST(ReplacedFile, AFolderThatDecidesTheGroupIsAskedAfterward) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
    const ScratchDir scratch;
    const std::string image = scratch.path("ext4.img");
    const std::string point = scratch.path("m");
    ASSERT_TRUE(make_dir(point));
    const MountedImage mount("truncate -s 8M " + image + " && mkfs.ext4 -q " + image + " && mount -o loop,grpid " +
                                 image + " " + point,
                             "umount " + point);
    if (!mount.mounted) GTEST_SKIP() << "cannot mount an ext4 image with grpid (loop devices, mkfs.ext4)";
    ASSERT_EQ(chown(point.c_str(), 0, 50), 0);
    ASSERT_TRUE(make_dir(point + "/tree") && make_dir(point + "/game"));
    for (const char* file : {"tree/a.txt", "tree/b.txt", "tree/_o_b.txt", "game/x.dat"}) {
        ASSERT_TRUE(write_file(point + "/" + file, "old"));
        ASSERT_EQ(chown((point + "/" + file).c_str(), 0, 0), 0);
        ASSERT_EQ(chmod((point + "/" + file).c_str(), 0640), 0);
    }
    ASSERT_TRUE(write_file(point + "/game.pak", make_pak({{"x.dat", "new"}})));

    EXPECT_EQ(run_program(SCRAMBLER_PATH, {point + "/tree"}, "\n\n").exit_status, 0);
    EXPECT_EQ(run_program(UNPACKER_PATH, {point + "/game.pak"}, "\n").exit_status, 0);
    for (const char* file : {"tree/_o_a.txt", "tree/_o_b.txt", "game/x.dat"})
        EXPECT_EQ(owner_and_mode(point + "/" + file), "0:0 0640") << file;
    EXPECT_EQ(read_file(point + "/game/x.dat"), "new");
}

// What a folder gives its new files is kept by that opening of the folder,
// and only where the runner owns it: a folder opened after another was
// closed (most likely under the same descriptor) and a user's folder that
// gains a default ACL between two files are asked again, so no replaced
// file keeps an ACL taken from its folder.
TEST(ReplacedFile, WhatAFolderGivesIsAskedAgainWhereItMayHaveChanged) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
    const ScratchDir scratch;
    for (const char* folder : {"plain", "inheriting", "users"}) ASSERT_TRUE(make_dir(scratch.path(folder)));
    for (const char* file : {"plain/a", "inheriting/a", "users/a", "users/b"})
        ASSERT_TRUE(write_file(scratch.path(file), "old"));
    const std::string inherited = acl_bytes({{kUserObj, 7, kNoId}, {kUser, 7, 1}, {kGroupObj, 5, kNoId},
                                             {kMask, 7, kNoId}, {kOther, 5, kNoId}});
    if (!set_attribute(scratch.path("inheriting"), "system.posix_acl_default", inherited))
        GTEST_SKIP() << "no ACLs on " << scratch.root;
    ASSERT_EQ(chown(scratch.path("users").c_str(), kUnprivilegedId, kUnprivilegedId), 0);
    {
        DirectoryHandle plain;
        ASSERT_TRUE(open_directory(plain, scratch.path("plain")) && write_safely(plain, "a", "new"));
    }
    DirectoryHandle inheriting;
    ASSERT_TRUE(open_directory(inheriting, scratch.path("inheriting")) && write_safely(inheriting, "a", "new"));
    DirectoryHandle users;
    ASSERT_TRUE(open_directory(users, scratch.path("users")) && write_safely(users, "a", "new"));
    ASSERT_TRUE(set_attribute(scratch.path("users"), "system.posix_acl_default", inherited));
    ASSERT_TRUE(write_safely(users, "b", "new"));
    for (const char* file : {"plain/a", "inheriting/a", "users/a", "users/b"}) {
        EXPECT_EQ(read_file(scratch.path(file)), "new") << file;
        EXPECT_EQ(attribute(scratch.path(file), "system.posix_acl_access"), "none") << file;
    }
}

// A small file that replaces one right after another did is made under its
// temporary name from the start. While it is written that name gives its
// group and others nothing; at commit it gets the old file's bits, or where
// nothing stands at its name, what a new file gets there. A large one is
// unnamed wherever the folder allows.
TEST(ReplacedFile, ASmallReplacementIsNamedButOpenToNoOneElseUntilDone) {
    const ScratchDir scratch;
    DirectoryHandle out;
    ASSERT_TRUE(open_directory(out, scratch.root) && write_safely(out, "a", "old"));
    const unsigned fresh = mode_of(scratch.path("a"));
    ASSERT_EQ(chmod(scratch.path("a").c_str(), 0640), 0);
    // Writes `name` with its size told, and the bits of each temporary that
    // stood in the folder before the commit.
    std::vector<unsigned> pending;
    const auto write_told = [&](const char* name, const std::string& bytes) {
        SafeOutput output;
        const bool written = safe_output_open(output, out, name, "_o_", 0666, static_cast<int64_t>(bytes.size())) &&
                             safe_output_write(output, bytes.data(), bytes.size());
        pending.clear();
        for (const std::string& temporary : temporaries(list_names(scratch.root)))
            pending.push_back(mode_of(scratch.path(temporary)));
        return written && safe_output_commit(output);
    };
    ASSERT_TRUE(write_told("a", "first"));
    const bool unnamed = pending.empty();
    for (const char* name : {"a", "b"}) {
        ASSERT_TRUE(write_told(name, name));
        ASSERT_EQ(pending.size(), 1u) << name;
        EXPECT_EQ(pending.front() & 077, 0u) << name;
        EXPECT_EQ(read_file(scratch.path(name)), name);
    }
    EXPECT_EQ(mode_of(scratch.path("a")), 0640u);
    EXPECT_EQ(mode_of(scratch.path("b")), fresh);
    ASSERT_TRUE(write_told("a", "again"));
    ASSERT_TRUE(write_told("a", std::string(static_cast<size_t>(kSmallOutputBytes) + 1, 'x')));
    EXPECT_EQ(pending.empty(), unnamed);
    EXPECT_EQ(mode_of(scratch.path("a")), 0640u);
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"a", "b"}));

    // As the unpacker meets it, run again over its output with one file gone.
    const ScratchDir game;
    ASSERT_TRUE(write_file(game.path("g.pak"), make_pak({{"a", "1"}, {"b", "2"}})));
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(run == 0 || (chmod(game.path("g/a").c_str(), 0640) == 0 && ::unlink(game.path("g/b").c_str()) == 0));
        EXPECT_EQ(run_unpacker_program(game.path("g.pak")).exit_status, 0);
    }
    EXPECT_EQ(mode_of(game.path("g/a")), 0640u);
    EXPECT_EQ(mode_of(game.path("g/b")), fresh);
    EXPECT_EQ(read_file(game.path("g/b")), "2");
}

// FAT through FUSE keeps no permission bits (every file 0700, chmod ENOSYS)
// and no attributes (ENOTSUP): a second run over the first's output
// replaces every file as the first made it.
TEST(ReplacedFile, AFileSystemWithoutPermissionBitsLosesNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
    const ScratchDir scratch;
    const std::string image = scratch.path("fat.img");
    const std::string point = scratch.path("m");
    ASSERT_TRUE(make_dir(point));
    const MountedImage mount("truncate -s 8M " + image + " && mkfs.vfat " + image + " && fusefat -o rw+ " + image +
                                 " " + point,
                             "fusermount -u " + point);
    if (!mount.mounted) GTEST_SKIP() << "cannot mount a FAT image through FUSE (fusefat, mkfs.vfat, /dev/fuse)";
    ASSERT_TRUE(make_dir(point + "/tree"));
    ASSERT_TRUE(write_file(point + "/tree/a.txt", "text"));
    ASSERT_TRUE(write_file(point + "/game.pak", make_pak({{"x.dat", "new"}, {"y.dat", "more"}})));

    for (int run = 1; run <= 2; ++run) {
        const ProcessResult scrambled_run = run_program(SCRAMBLER_PATH, {point + "/tree"}, "\n\n");
        EXPECT_EQ(scrambled_run.output, "press enter to start...a.txt ...done.\nsuccessful.\n" + kPress) << run;
        const ProcessResult unpacked_run = run_program(UNPACKER_PATH, {point + "/game.pak"}, "\n");
        EXPECT_EQ(unpacked_run.exit_status, 0) << run << unpacked_run.output;
    }
    EXPECT_EQ(read_file(point + "/tree/_o_a.txt"), scrambled("text"));
    EXPECT_EQ(read_file(point + "/game/y.dat"), "more");
    EXPECT_EQ(temporaries(list_names(point + "/game")), std::vector<std::string>{});
}

#endif
