// "successful." means on disk: a file system shut down the moment a run
// has said it, the way a power cut stops it (the journal kept, file data
// not yet written lost), still holds every file the run wrote, whole, both
// a fresh one and one that replaced a file already on disk. Both programs,
// as processes, on XFS and ext4 loop images; it takes root and loop devices.

#include <gtest/gtest.h>

#ifdef __linux__
#include <sys/mount.h>
#include <unistd.h>

#include <string>

#include "pak_writer.h"
#include "test_support.h"

namespace {

// Runs a shell command, its output dropped; true when it exits with 0.
bool shell(const std::string& command) {
    return run_program("/bin/sh", {"-c", "(" + command + ") >/dev/null 2>&1"}, "").exit_status == 0;
}

// A file system on an image file, mounted through a loop device while it lives.
struct LoopMount {
    LoopMount() = default;
    LoopMount(const LoopMount&) = delete;
    LoopMount& operator=(const LoopMount&) = delete;
    ~LoopMount() {
        if (mounted) umount(point.c_str());
    }
    bool mount_image() {
        mounted = shell("mount -o loop " + image + " " + point);
        return mounted;
    }
    bool unmount() {
        mounted = mounted && umount(point.c_str()) != 0;
        return !mounted;
    }
    std::string image;
    std::string point;
    bool mounted = false;
};

struct PowerCutRow {
    const char* file_system;
    bool unpacker;
};

// "whole" when the file holds `expected`, else how many bytes it holds.
std::string state_of(const std::string& path, const std::string& expected) {
    const std::string bytes = read_file(path);
    return bytes == expected ? "whole" : std::to_string(bytes.size()) + " bytes";
}

}  // namespace

TEST(PowerCut, EveryFileWholeAfterShutdownRightAfterSuccessful) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a loop image takes root";
    if (!shell("command -v mkfs.xfs && command -v mkfs.ext4 && command -v xfs_io"))
        GTEST_SKIP() << "mkfs.xfs, mkfs.ext4 and xfs_io are needed (xfsprogs, e2fsprogs)";
    const std::string old_bytes = patterned_bytes(100000);
    const std::string new_bytes = patterned_bytes(100001);
    const PowerCutRow rows[] = {{"xfs", false}, {"xfs", true}, {"ext4", false}, {"ext4", true}};
    for (const PowerCutRow& row : rows) {
        SCOPED_TRACE(std::string(row.file_system) + (row.unpacker ? " unpacker" : " scrambler"));
        ScratchDir scratch;
        LoopMount disk;
        disk.image = scratch.path("disk.img");
        disk.point = scratch.path("mnt");
        // XFS takes at least 300 MiB; the image is sparse.
        ASSERT_TRUE(make_dir(disk.point));
        ASSERT_TRUE(shell("truncate -s 320M " + disk.image + " && mkfs." + row.file_system + " -q " + disk.image));
        if (!disk.mount_image()) GTEST_SKIP() << "no loop device could be set up: mount -o loop failed";
        // The file to be replaced stands on disk before the run.
        std::string program = SCRAMBLER_PATH;
        std::string argument = disk.point + "/tree";
        if (row.unpacker) {
            program = UNPACKER_PATH;
            argument = disk.point + "/data.pak";
            ASSERT_TRUE(make_dir(disk.point + "/data"));
            ASSERT_TRUE(write_file(disk.point + "/data/old.txt", "an older file"));
            ASSERT_TRUE(write_file(argument, make_pak({{"old.txt", old_bytes}, {"new.txt", new_bytes}})));
        } else {
            ASSERT_TRUE(make_dir(argument));
            ASSERT_TRUE(write_file(argument + "/old.txt", old_bytes));
            ASSERT_TRUE(write_file(argument + "/new.txt", new_bytes));
            ASSERT_TRUE(write_file(argument + "/_o_old.txt", "an older copy"));
        }
        sync();
        const ProcessResult run = run_program(program, {argument}, "\n\n");
        ASSERT_NE(run.output.find("successful.\n"), std::string::npos) << run.output;
        ASSERT_TRUE(shell("xfs_io -x -c 'shutdown -f' " + disk.point));
        ASSERT_TRUE(disk.unmount());
        ASSERT_TRUE(disk.mount_image());
        const std::string at = disk.point + (row.unpacker ? "/data/" : "/tree/_o_");
        EXPECT_EQ(state_of(at + "old.txt", row.unpacker ? old_bytes : scrambled(old_bytes)), "whole");
        EXPECT_EQ(state_of(at + "new.txt", row.unpacker ? new_bytes : scrambled(new_bytes)), "whole");
    }
}
#endif
