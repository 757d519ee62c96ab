// A file that a run replaces keeps what opening it for writing would have
// kept: its permission bits stay, and one the user may not write is not
// replaced at all but reported as a file that could not be opened. A new
// copy is no more readable than its source. Both programs, run as an
// ordinary user.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>

#include "pak_writer.h"
#include "test_support.h"

namespace {

unsigned mode_of(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<unsigned>(info.st_mode & 07777) : 0;
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
    ASSERT_TRUE(make_dir(scratch.path("bin")));
    const std::string scrambler = scratch.path("bin/scrambler");
    const std::string unpacker = scratch.path("bin/unpacker");
    ASSERT_TRUE(std::filesystem::copy_file(SCRAMBLER_PATH, scrambler));
    ASSERT_TRUE(std::filesystem::copy_file(UNPACKER_PATH, unpacker));
    give_to_unprivileged_user(scratch.root);

    const ProcessResult scrambled_run = run_program_unprivileged(scrambler, {scratch.path("tree")}, "\n\n");
    EXPECT_EQ(scrambled_run.output, "press enter to start...a.txt ...error.\nb.txt ...done.\nc.txt ...done.\n"
                                    "successful.\npress enter key.\n");
    EXPECT_EQ(scrambled_run.exit_status, 1);
    EXPECT_EQ(read_file(scratch.path("tree/_o_a.txt")), "old");
    EXPECT_EQ(mode_of(scratch.path("tree/_o_a.txt")), 0444u);
    EXPECT_EQ(read_file(scratch.path("tree/_o_b.txt")), scrambled("b"));
    EXPECT_EQ(mode_of(scratch.path("tree/_o_b.txt")), 0600u);
    EXPECT_EQ(mode_of(scratch.path("tree/_o_c.txt")), 0600u);

    const ProcessResult unpacked_run = run_program_unprivileged(unpacker, {scratch.path("game.pak")}, "\n");
    EXPECT_NE(unpacked_run.output.find(": rw.dat ...done.\n"), std::string::npos) << unpacked_run.output;
    EXPECT_NE(unpacked_run.output.find(": ro.dat ...\nfile open error.\npress enter key.\n"), std::string::npos);
    EXPECT_EQ(unpacked_run.exit_status, 1);
    EXPECT_EQ(read_file(scratch.path("game/ro.dat")), "old");
    EXPECT_EQ(mode_of(scratch.path("game/ro.dat")), 0444u);
    EXPECT_EQ(read_file(scratch.path("game/rw.dat")), "new rw");
    EXPECT_EQ(mode_of(scratch.path("game/rw.dat")), 0600u);
    EXPECT_EQ(list_names(scratch.path("game")), (std::vector<std::string>{"ro.dat", "rw.dat"}));
}

#endif
