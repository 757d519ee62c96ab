// "successful." means on disk: a file system shut down the moment a run
// has said it, the way a power cut stops it (the journal kept, file data
// not yet written lost), still holds every file the run wrote, whole, both
// a fresh one and one that replaced a file already on disk; so does one
// shut down as a run ends on a failure after written files. Both programs,
// as processes, on XFS and ext4 loop images; it takes root and loop devices.

#include <gtest/gtest.h>

#ifdef __linux__
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

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
    // The run ends on a failure after the two files: the unpacker stopping
    // at an entry, the scrambler after a file that got "error.".
    bool stops;
};

// The two sources (or entries) the run writes: old.txt, whose copy (or
// file) already stands on disk, and new.txt; with `stops`, a third that
// fails. Sets the program to run and its argument.
bool set_scene(const PowerCutRow& row, const std::string& point, const std::string& old_bytes,
               const std::string& new_bytes, std::string& program, std::string& argument) {
    if (row.unpacker) {
        program = UNPACKER_PATH;
        argument = point + "/data.pak";
        std::vector<PakItem> items = {{"old.txt", old_bytes}, {"new.txt", new_bytes}};
        // A folder at the third entry's name stops the run there.
        if (row.stops) items.push_back({"zdir", "z"});
        return make_dir(point + "/data") && (!row.stops || make_dir(point + "/data/zdir")) &&
               write_file(point + "/data/old.txt", "an older file") && write_file(argument, make_pak(items));
    }
    program = SCRAMBLER_PATH;
    argument = point + "/tree";
    // A FIFO is never read: its line gets "error.".
    return make_dir(argument) && write_file(argument + "/old.txt", old_bytes) &&
           write_file(argument + "/new.txt", new_bytes) && write_file(argument + "/_o_old.txt", "an older copy") &&
           (!row.stops || mkfifo((argument + "/z.txt").c_str(), 0600) == 0);
}

// How the run's dialogue ends.
const char* ending_of(const PowerCutRow& row) {
    if (!row.stops) return "successful.\npress enter key.\n";
    return row.unpacker ? "file open error.\npress enter key.\n" : "error.\nsuccessful.\npress enter key.\n";
}

// "whole" when the file holds `expected`, else how many bytes it holds.
std::string state_of(const std::string& path, const std::string& expected) {
    const std::string bytes = read_file(path);
    return bytes == expected ? "whole" : std::to_string(bytes.size()) + " bytes";
}

}  // namespace

TEST(PowerCut, EveryFileWholeAfterShutdownRightAfterTheRunEnds) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a loop image takes root";
    if (!shell("command -v mkfs.xfs && command -v mkfs.ext4 && command -v xfs_io"))
        GTEST_SKIP() << "mkfs.xfs, mkfs.ext4 and xfs_io are needed (xfsprogs, e2fsprogs)";
    const std::string old_bytes = patterned_bytes(100000);
    const std::string new_bytes = patterned_bytes(100001);
    const PowerCutRow rows[] = {{"xfs", false, false}, {"xfs", true, false},  {"ext4", false, false},
                                {"ext4", true, false}, {"xfs", false, true},  {"xfs", true, true}};
    for (const PowerCutRow& row : rows) {
        SCOPED_TRACE(std::string(row.file_system) + (row.unpacker ? " unpacker" : " scrambler") +
                     (row.stops ? ", ending on a failure" : ""));
        ScratchDir scratch;
        LoopMount disk;
        disk.image = scratch.path("disk.img");
        disk.point = scratch.path("mnt");
        // XFS takes at least 300 MiB; the image is sparse.
        ASSERT_TRUE(make_dir(disk.point));
        ASSERT_TRUE(shell("truncate -s 320M " + disk.image + " && mkfs." + row.file_system + " -q " + disk.image));
        if (!disk.mount_image())
            GTEST_SKIP() << "mount -o loop of a " << row.file_system << " image failed: no loop device, or no "
                         << row.file_system << " in this kernel";
        std::string program;
        std::string argument;
        ASSERT_TRUE(set_scene(row, disk.point, old_bytes, new_bytes, program, argument));
        // What is to be replaced stands on disk before the run.
        sync();
        const ProcessResult run = run_program(program, {argument}, "\n\n");
        const std::string ending = ending_of(row);
        ASSERT_EQ(run.output.substr(run.output.size() - std::min(run.output.size(), ending.size())), ending);
        ASSERT_TRUE(shell("xfs_io -x -c 'shutdown -f' " + disk.point));
        ASSERT_TRUE(disk.unmount());
        ASSERT_TRUE(disk.mount_image());
        const std::string at = disk.point + (row.unpacker ? "/data/" : "/tree/_o_");
        EXPECT_EQ(state_of(at + "old.txt", row.unpacker ? old_bytes : scrambled(old_bytes)), "whole");
        EXPECT_EQ(state_of(at + "new.txt", row.unpacker ? new_bytes : scrambled(new_bytes)), "whole");
    }
}
#endif
