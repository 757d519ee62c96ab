// The flush at the end of a run: a file system that reports it could not
// write what the run wrote makes the run end as a write error, in each
// program's own words, with status 1; and a run that wrote into several
// file systems flushes each, through one handle apiece.

#include <gtest/gtest.h>

#include <string>

#include "common/durability.h"
#include "common/test_hooks.h"
#include "pak_writer.h"
#include "scrambler/run_scrambler.h"
#include "test_support.h"
#include "unpacker/run_unpacker.h"

#ifdef __linux__
#include <sys/stat.h>
#include <unistd.h>
#endif

TEST(Durability, AFlushThatFailsIsAWriteErrorWithStatusOne) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("tree")));
    ASSERT_TRUE(write_file(scratch.path("tree/a.txt"), "a"));
    ASSERT_TRUE(write_file(scratch.path("a.pak"), make_pak({{"a.txt", "a"}})));
    flush_fails_for_test = true;
    const DriverRun scrambler = run_driver(run_scrambler, {scratch.path("tree")}, "\n\n");
    const DriverRun unpacker = run_driver(run_unpacker, {scratch.path("a.pak")}, "\n");
    flush_fails_for_test = false;
    EXPECT_EQ(scrambler.output, "press enter to start...a.txt ...done.\nerror.\nsuccessful.\npress enter key.\n");
    EXPECT_EQ(scrambler.status, 1);
    EXPECT_EQ(unpacker.output, "files: 1\n00000110 - 00000110: a.txt ...done.\nfile write error.\npress enter key.\n");
    EXPECT_EQ(unpacker.status, 1);
}

#ifdef __linux__
TEST(Durability, EachFileSystemWrittenIsNotedOnce) {
    ScratchDir disk;
    const std::string memory = "/dev/shm/assettools-durability-" + std::to_string(getpid());
    struct stat on_disk {}, in_memory {};
    ASSERT_TRUE(make_dir(disk.path("sub")));
    if (!make_dir(memory)) GTEST_SKIP() << "no /dev/shm to stand for a second file system";
    const bool two_devices = stat(disk.root.c_str(), &on_disk) == 0 && stat(memory.c_str(), &in_memory) == 0 &&
                             on_disk.st_dev != in_memory.st_dev;
    {
        DirectoryHandle first, second;
        WrittenFileSystems written;
        ASSERT_TRUE(open_directory(first, disk.root) && open_directory(second, memory));
        note_written(written, first, "");
        note_written(written, first, "sub/");
        note_written(written, second, "");
        note_written(written, second, "");
        EXPECT_EQ(written.marks.size(), two_devices ? 2U : 1U);
        EXPECT_FALSE(written.unmarked);
        EXPECT_TRUE(flush_written(written));
    }
    rmdir(memory.c_str());
}
#endif
