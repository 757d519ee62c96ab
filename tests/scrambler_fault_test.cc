// The real scrambler, run as a process against the faults a user's disk and
// tree can hold: a full disk, a directory where a copy should go, a tree too
// deep for the path limit, a huge directory, links that loop or lead out.
// Each test says what must survive the fault.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pak_writer.h"
#include "scrambler/scramble_file.h"
#include "test_support.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#endif

// A directory standing where a copy would go is a fault of that one file:
// it gets "error.", the directory and what it holds stay as they were, no
// temporary is left beside it, and the other files are still done.
TEST(ScramblerFault, DestinationThatIsADirectoryIsLeftAlone) {
    ScratchDir tree;
    ASSERT_TRUE(write_file(tree.path("a.txt"), "alpha"));
    ASSERT_TRUE(write_file(tree.path("b.txt"), "bravo"));
    ASSERT_TRUE(make_dir(tree.path("_o_a.txt")));
    ASSERT_TRUE(write_file(tree.path("_o_a.txt/keep.dat"), "kept"));

    const ProcessResult run = run_scrambler_program(tree.root);

    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.output.find("a.txt ...error.\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("b.txt ...done.\n"), std::string::npos) << run.output;
    EXPECT_EQ(list_names(tree.path("_o_a.txt")), std::vector<std::string>{"keep.dat"});
    EXPECT_EQ(read_file(tree.path("_o_a.txt/keep.dat")), "kept");
    EXPECT_EQ(read_file(tree.path("_o_b.txt")), scrambled("bravo"));
    EXPECT_TRUE(temporaries(list_names(tree.root)).empty());
}

#ifndef _WIN32

namespace {

// The entries of the directory open as `directory_fd`, "." and ".." left out.
std::vector<std::string> names_at(int directory_fd) {
    std::vector<std::string> names;
    const int own = dup(directory_fd);
    DIR* stream = own < 0 ? nullptr : fdopendir(own);
    if (stream == nullptr) return names;
    while (const dirent* entry = readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(stream);
    return names;
}

// The bytes of `name` within `directory_fd`; `ok` tells whether it was read.
std::string read_at(int directory_fd, const char* name, bool& ok) {
    std::string bytes;
    const int fd = openat(directory_fd, name, O_RDONLY | O_NOFOLLOW);
    ok = fd >= 0;
    if (!ok) return bytes;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(got));
    close(fd);
    return bytes;
}

// Removes everything below `directory_fd` by handles, which works however
// far the tree reaches past the path length limit that removal by path hits.
void empty_tree_at(int directory_fd) {
    for (const std::string& name : names_at(directory_fd)) {
        const int child = openat(directory_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (child >= 0) {
            empty_tree_at(child);
            close(child);
            unlinkat(directory_fd, name.c_str(), AT_REMOVEDIR);
        } else {
            unlinkat(directory_fd, name.c_str(), 0);
        }
    }
}

}  // namespace

// A disk that fills during one copy costs that copy alone: the copy made by
// an earlier run stays intact under its name, no temporary is left, the file
// gets "error.", files that fit are still done, and the exit status says 1.
TEST(ScramblerFault, DiskFullKeepsTheEarlierCopyAndLeavesNoTemporary) {
    ScratchDir tree;
    const std::string old_big(200000, 'o');
    ASSERT_TRUE(write_file(tree.path("big.bmp"), old_big));
    ASSERT_TRUE(write_file(tree.path("small.bmp"), "small"));
    ASSERT_TRUE(write_file(tree.path("notes.txt"), "notes"));
    ASSERT_EQ(run_scrambler_program(tree.root).exit_status, 0);
    ASSERT_EQ(read_file(tree.path("_o_big.bmp")), scrambled(old_big));

    // The source grows past what the disk now takes.
    ASSERT_TRUE(write_file(tree.path("big.bmp"), std::string(300000, 'n')));
    ASSERT_TRUE(write_file(tree.path("notes.txt"), "new notes"));
    const ProcessResult run =
        run_program_with_file_size_limit(SCRAMBLER_PATH, {tree.root}, kEnterTwice, uint64_t{64} * 1024);

    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.output.find("big.bmp ...error.\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("small.bmp ...done.\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("notes.txt ...done.\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("successful.\n" + kPress), std::string::npos);
    EXPECT_EQ(read_file(tree.path("_o_big.bmp")), scrambled(old_big));
    EXPECT_EQ(read_file(tree.path("_o_notes.txt")), scrambled("new notes"));
    EXPECT_TRUE(temporaries(list_names(tree.root)).empty()) << run.output;
}

// A tree 3,000 levels deep reaches far past the system's path length limit,
// and on a 256 KiB stack past what a walk that recursed once a level could
// reach. The walk goes down by directory handles, so every level is
// reached: every copy is made and reported, and no temporary is left at any
// level.
TEST(ScramblerFault, TreeDeeperThanThePathLimitOnASmallStack) {
    const ScratchInMemory in_memory;
    const ScratchDir scratch;
    constexpr int kLevels = 3000;
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_max < kLevels + 64)
        GTEST_SKIP() << "the walk holds a handle a level, more than this system lets a process open";
    const std::string level_name = "dddd";
    static_assert(5 * kLevels > PATH_MAX, "the tree must pass the path limit");
    const int root_fd = open(scratch.root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(root_fd, 0);
    int fd = dup(root_fd);
    for (int level = 0; level < kLevels && fd >= 0; ++level) {
        const int file = openat(fd, "a.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(file, 0) << "level " << level;
        ASSERT_EQ(write(file, "deep", 4), 4);
        close(file);
        ASSERT_EQ(mkdirat(fd, level_name.c_str(), 0755), 0) << "level " << level;
        const int next = openat(fd, level_name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    close(fd);

    // Started, as from many shells, with a soft limit of 1,024 open files:
    // the program raises its own toward the hard limit.
    rlimit soft = files;
    soft.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &soft), 0);
    const ProcessResult run =
        run_program_with_limit(SCRAMBLER_PATH, {scratch.root}, kEnterTwice, RLIMIT_STACK, uint64_t{256} * 1024);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(static_cast<int>(count_of(run.output, "a.txt ...done.\n")), kLevels);
    fd = dup(root_fd);
    for (int level = 0; level < kLevels && fd >= 0; ++level) {
        bool made = false;
        EXPECT_EQ(read_at(fd, "_o_a.txt", made), scrambled("deep")) << "level " << level;
        EXPECT_TRUE(temporaries(names_at(fd)).empty()) << "level " << level;
        const int next = openat(fd, level_name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    if (fd >= 0) close(fd);
    empty_tree_at(root_fd);
    close(root_fd);
}

// Past the system's limit on open files, the deepest folder the walk can
// open is one it cannot list: its files are passed over, and the run does
// not end as if all was done.
TEST(ScramblerFault, AFolderThatCannotBeListedMakesTheStatusOne) {
    const ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("a.txt"), "a"));
    std::string level = scratch.root;
    for (int depth = 0; depth < 100; ++depth) ASSERT_TRUE(make_dir(level += "/d"));
    ASSERT_TRUE(write_file(level + "/deep.txt", "deep"));

    const ProcessResult run =
        run_program_with_limit(SCRAMBLER_PATH, {scratch.root}, kEnterTwice, RLIMIT_NOFILE, 32);

    EXPECT_EQ(run.output, "press enter to start...a.txt ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(run.exit_status, 1);
}

// 100,000 entries in one directory, a few hundred of them asset files: every
// asset file gets its copy and its one line, none twice, and the run stays
// within seconds.
TEST(ScramblerFault, DirectoryWithAHundredThousandEntries) {
    const ScratchInMemory in_memory;
    const ScratchDir tree;
    constexpr int kEntries = 100000;
    constexpr int kAssets = 300;
    const int directory_fd = open(tree.root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(directory_fd, 0);
    for (int i = 0; i < kEntries; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, i % (kEntries / kAssets) == 0 ? "t%06d.txt" : "f%06d.dat", i);
        const int fd = openat(directory_fd, name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << name;
        if (name[0] == 't') {
            ASSERT_EQ(write(fd, name, 11), 11);
        }
        close(fd);
    }
    close(directory_fd);

    const ProcessResult run = run_scrambler_program(tree.root);

    EXPECT_EQ(run.exit_status, 0);
    const size_t expected_assets = (kEntries + kEntries / kAssets - 1) / (kEntries / kAssets);
    EXPECT_EQ(count_of(run.output, ".txt ...done.\n"), expected_assets);
    EXPECT_EQ(count_of(run.output, "error."), 0u);
    const std::vector<std::string> names = list_names(tree.root);
    EXPECT_EQ(names.size(), kEntries + expected_assets);
    EXPECT_TRUE(temporaries(names).empty());
    EXPECT_EQ(read_file(tree.path("_o_t000000.txt")), scrambled(std::string("t000000.txt", 11)));
}

namespace {

// The least address space, to 64 KiB, in which `program` still does a small
// job as it should (prints `done`): given more work, it finds no memory left.
uint64_t least_address_space(const std::string& program, const std::string& argument, const std::string& done) {
    uint64_t fails = uint64_t{1} << 20;
    uint64_t runs = uint64_t{256} << 20;
    while (runs - fails > uint64_t{64} << 10) {
        const uint64_t middle = fails + (runs - fails) / 2;
        const ProcessResult run = run_program_with_limit(program, {argument}, kEnterTwice, RLIMIT_AS, middle);
        (run.exit_status == 0 && run.output == done ? runs : fails) = middle;
    }
    return runs;
}

}  // namespace

// Memory that runs out ends the run with its own message and status 1, and
// what was being written is discarded. Each program is held to the least
// memory its small job needs; its larger job needs more: for the scrambler
// a listing of 2 MB of names, for the unpacker the window an entry with
// data is read through. AddressSanitizer reserves far more address space
// than any such limit for itself.
TEST(ScramblerFault, OutOfMemoryIsReported) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
#endif
    const ScratchInMemory in_memory;
    const ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("small")));
    ASSERT_TRUE(make_dir(scratch.path("large")));
    const int directory_fd = open(scratch.path("large").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(directory_fd, 0);
    for (int i = 0; i < 8000; ++i) {
        const std::string name = std::to_string(i) + std::string(234, 'n') + ".dat";
        const int fd = openat(directory_fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << i;
        close(fd);
    }
    close(directory_fd);
    ASSERT_TRUE(write_file(scratch.path("empty.pak"), pak_header(1) + pak_record("a.txt", 0, 0)));
    // Unpacked into the folder of many names, where nothing may be left.
    ASSERT_TRUE(write_file(scratch.path("large.pak"), make_pak({{"a.txt", "hello"}})));
    struct Case {
        const char* program;
        const char* small;
        std::string small_done;
        const char* large;
        std::string out_of_memory;
    };
    const Case cases[] = {
        // Enter, echoed at a terminal, ended the prompt's line.
        {SCRAMBLER_PATH, "small", "press enter to start...successful.\n" + kPress, "large",
         "press enter to start...out of memory.\n" + kPress},
        {UNPACKER_PATH, "empty.pak", "files: 1\n00000000 - FFFFFFFF: a.txt ...done.\nsuccessful.\n" + kPress,
         "large.pak", "files: 1\n00000110 - 00000114: a.txt ...\nout of memory.\n" + kPress},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        const uint64_t limit = least_address_space(c.program, scratch.path(c.small), c.small_done);
        ASSERT_LT(limit, uint64_t{256} << 20) << "the small job never ran";
        const ProcessResult run =
            run_program_with_limit(c.program, {scratch.path(c.large)}, kEnterTwice, RLIMIT_AS, limit);
        EXPECT_EQ(run.output, c.out_of_memory);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(list_names(scratch.path("large")).size(), 8000u) << "a file was left";
    }
}

// Links that loop, or lead out of the tree, must not make the walk go round
// forever or write anywhere outside the tree. A copy's name that is a link
// to a file outside is replaced inside the tree, never written through.
TEST(ScramblerFault, LinkLoopsAndLinksLeadingOutOfTheTree) {
    ScratchDir scratch;
    const std::string tree = scratch.path("tree");
    const std::string outside = scratch.path("outside");
    ASSERT_TRUE(make_dir(tree));
    ASSERT_TRUE(make_dir(outside));
    ASSERT_TRUE(make_dir(tree + "/sub"));
    ASSERT_TRUE(write_file(tree + "/a.txt", "alpha"));
    ASSERT_TRUE(write_file(tree + "/sub/b.txt", "bravo"));
    ASSERT_TRUE(write_file(outside + "/victim.txt", "precious"));
    ASSERT_TRUE(write_file(outside + "/c.txt", "charlie"));
    ASSERT_EQ(symlink("..", (tree + "/sub/up").c_str()), 0);
    ASSERT_EQ(symlink("loop.txt", (tree + "/sub/loop.txt").c_str()), 0);
    ASSERT_EQ(symlink("../../outside", (tree + "/sub/out").c_str()), 0);
    ASSERT_EQ(symlink("../outside/victim.txt", (tree + "/_o_a.txt").c_str()), 0);

    const ProcessResult run = run_scrambler_program(tree);

    // The self-link is no file to read: its one "error." sets the status.
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.output, "press enter to start...a.txt ...done.\nb.txt ...done.\nloop.txt ...error.\n"
                          "successful.\n" + kPress);
    EXPECT_EQ(list_names(outside), (std::vector<std::string>{"c.txt", "victim.txt"}));
    EXPECT_EQ(read_file(outside + "/victim.txt"), "precious");
    EXPECT_EQ(read_file(outside + "/c.txt"), "charlie");
    struct stat copy;
    ASSERT_EQ(lstat((tree + "/_o_a.txt").c_str(), &copy), 0);
    EXPECT_TRUE(S_ISREG(copy.st_mode));
    EXPECT_EQ(read_file(tree + "/_o_a.txt"), scrambled("alpha"));
    EXPECT_EQ(read_file(tree + "/sub/_o_b.txt"), scrambled("bravo"));
    EXPECT_TRUE(temporaries(list_names(tree)).empty());
    EXPECT_TRUE(temporaries(list_names(tree + "/sub")).empty());
}

#endif
