// The real unpacker, run as a process against the faults a user's disk and
// folders can hold: a full disk, a directory where an entry's file should
// go, a huge directory, links the user made and links an attacker planted.
// Each test says what must survive the fault.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pak_writer.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>


// A disk that fills during one entry stops the run there: the entries before
// it stay written, the file an earlier run left under that name is intact,
// nothing is written after it, and no temporary is left; a small entry
// among many stops the run just the same.
TEST(UnpackerFault, DiskFullStopsTheRunAndKeepsTheOlderFile) {
    struct Case {
        const char* what;
        size_t around;  // entries before and after the one that fills the disk
        size_t big;
        uint64_t limit;
    };
    for (const Case& c : {Case{"a large entry", 1, size_t{1} << 20, uint64_t{64} * 1024},
                          Case{"a small entry among many", 100, size_t{16} * 1024, uint64_t{8} * 1024}}) {
        ScratchDir scratch;
        ASSERT_TRUE(make_dir(scratch.path("a")));
        ASSERT_TRUE(write_file(scratch.path("a/big"), "from an earlier run"));
        std::vector<PakItem> items;
        std::vector<std::string> kept{"big"};
        for (size_t i = 0; i < c.around; ++i) {
            items.push_back({"first" + std::to_string(i), "fits"});
            kept.push_back(items.back().name);
        }
        items.push_back({"big", std::string(c.big, 'b')});
        for (size_t i = 0; i < c.around; ++i) items.push_back({"after" + std::to_string(i), "z"});
        ASSERT_TRUE(write_file(scratch.path("a.pak"), make_pak(items)));

        const ProcessResult run =
            run_program_with_file_size_limit(UNPACKER_PATH, {scratch.path("a.pak")}, "\n", c.limit);

        EXPECT_EQ(run.exit_status, 1) << c.what;
        // Every line up to the one that fills the disk, and nothing after.
        std::string expected = "files: " + std::to_string(items.size()) + "\n";
        size_t offset = 8 + 264 * items.size();
        for (const PakItem& item : items) {
            char range[32];
            std::snprintf(range, sizeof range, "%.8zX - %.8zX: ", offset, offset + item.data.size() - 1);
            expected += range + item.name + " ...";
            if (item.name == "big") break;
            expected += "done.\n";
            offset += item.data.size();
        }
        expected += "\nfile write error.\n";
        expected += kPress;
        EXPECT_EQ(run.output, expected) << c.what;
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(list_names(scratch.path("a")), kept) << c.what;
        EXPECT_EQ(read_file(scratch.path("a/first0")), "fits") << c.what;
        EXPECT_EQ(read_file(scratch.path("a/big")), "from an earlier run") << c.what;
    }
}

// A directory standing at an entry's name is not replaced: the run stops at
// that entry with the open error, and the directory keeps what it holds.
TEST(UnpackerFault, DirectoryAtAnEntrysNameIsLeftAlone) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("a")));
    ASSERT_TRUE(make_dir(scratch.path("a/x")));
    ASSERT_TRUE(write_file(scratch.path("a/x/keep"), "kept"));
    ASSERT_TRUE(write_file(scratch.path("a.pak"), make_pak({{"first", "1"}, {"x", "2"}, {"last", "3"}})));

    const ProcessResult run = run_unpacker_program(scratch.path("a.pak"));

    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.output, "files: 3\n00000320 - 00000320: first ...done.\n00000321 - 00000321: x ...\n"
                          "file open error.\n" + kPress);
    EXPECT_EQ(list_names(scratch.path("a")), (std::vector<std::string>{"first", "x"}));
    EXPECT_EQ(list_names(scratch.path("a/x")), std::vector<std::string>{"keep"});
    EXPECT_EQ(read_file(scratch.path("a/x/keep")), "kept");
}

// An archive of 100,000 entries unpacks completely, one line and one file
// per entry, within seconds.
TEST(UnpackerFault, ArchiveWithAHundredThousandEntries) {
    const ScratchInMemory in_memory;
    const ScratchDir scratch;
    constexpr int kEntries = 100000;
    std::vector<PakItem> items;
    items.reserve(kEntries);
    for (int i = 0; i < kEntries; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "e%06d", i);
        items.push_back({name, i % 1000 == 0 ? std::string(name) : std::string()});
    }
    ASSERT_TRUE(write_file(scratch.path("many.pak"), make_pak(items)));

    const ProcessResult run = run_unpacker_program(scratch.path("many.pak"));

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output.rfind("files: 100000\n", 0), 0u);
    EXPECT_EQ(count_of(run.output, " ...done.\n"), static_cast<size_t>(kEntries));
    EXPECT_NE(run.output.find(": e099999 ...done.\nsuccessful.\n" + kPress), std::string::npos);
    EXPECT_EQ(list_names(scratch.path("many")).size(), static_cast<size_t>(kEntries));
    EXPECT_EQ(read_file(scratch.path("many/e042000")), "e042000");
    EXPECT_EQ(read_file(scratch.path("many/e042001")), "");
    EXPECT_TRUE(temporaries(list_names(scratch.path("many"))).empty());
}

// A directory that claims any number of entries, in an archive that is
// sparse and so costs nothing to make, is judged in bounded memory and in
// the time its stored bytes take: the run ends with its message and status
// 1, never an abort.
TEST(UnpackerFault, HugeDirectoriesAreJudgedInBoundedMemory) {
    struct Case {
        int32_t count;
        int64_t missing_bytes;  // how far the file falls short of the directory
        std::string first_name;
        std::string expected;
    };
    const std::string huge = "files: 2147483647\n";
    const Case cases[] = {
        {INT32_MAX, 0, "../escape", huge + "unsafe file name in entry 1\n" + kPress},
        {INT32_MAX, 1, "a", huge + "broken PAK file\n" + kPress},
        // All zeros: a million empty names, every one sound until the first
        // is opened as a file.
        {1000000, 0, "", "files: 1000000\n00000000 - FFFFFFFF:  ...\nfile open error.\n" + kPress},
        {INT32_MAX, 0, "", huge + "00000000 - FFFFFFFF:  ...\nfile open error.\n" + kPress},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const ScratchDir scratch;
        const std::string path = scratch.path("huge.pak");
        std::string head = pak_header(c.count);
        if (!c.first_name.empty()) head += pak_record(c.first_name, 0, 0);
        const int64_t size = 8 + int64_t{264} * c.count - c.missing_bytes;
        ASSERT_TRUE(make_sparse_file(path, size, {{0, head}}));

        const ProcessResult run = run_unpacker_program(path);

        EXPECT_EQ(run.output, c.expected);
        EXPECT_EQ(run.exit_status, 1);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's own shadow memory is no measure
        EXPECT_LT(run.peak_kib, 16 * 1024);
#endif
    }
}

// A link the user made on the way to the archive is followed. A link
// inside the output directory is never followed: one at an entry's name is
// replaced by the entry's file, and one standing as an entry's
// subdirectory, wherever it leads (out of the tree, up, or round in a
// loop), stops the run there. Nothing is written through either.
TEST(UnpackerFault, FollowsTheUsersLinkButNoLinkInsideTheOutput) {
    const char* const targets[] = {"../../outside", "..", "sub"};
    for (const char* target : targets) {
        SCOPED_TRACE(target);
        ScratchDir scratch;
        ASSERT_TRUE(make_dir(scratch.path("outside")));
        ASSERT_TRUE(make_dir(scratch.path("real")));
        ASSERT_TRUE(make_dir(scratch.path("real/a")));
        ASSERT_EQ(symlink("real", scratch.path("lnk").c_str()), 0);
        ASSERT_EQ(symlink(target, scratch.path("real/a/sub").c_str()), 0);
        ASSERT_TRUE(write_file(scratch.path("evil"), "sentinel"));
        ASSERT_EQ(symlink("../../evil", scratch.path("real/a/x").c_str()), 0);
        ASSERT_TRUE(write_file(scratch.path("real/a.pak"), make_pak({{"x", "through the user's link"}, {"sub/y", "y"}})));

        const ProcessResult run = run_unpacker_program(scratch.path("lnk/a.pak"));

        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.output, "files: 2\n00000218 - 0000022E: x ...done.\n0000022F - 0000022F: sub/y ...\n"
                              "file open error.\n" + kPress);
        EXPECT_EQ(read_file(scratch.path("real/a/x")), "through the user's link");
        EXPECT_EQ(list_names(scratch.path("real/a")), (std::vector<std::string>{"sub", "x"}));
        EXPECT_TRUE(list_names(scratch.path("outside")).empty());
        EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"evil", "lnk", "outside", "real"}));
        EXPECT_EQ(read_file(scratch.path("evil")), "sentinel");
        struct stat link;
        ASSERT_EQ(lstat(scratch.path("real/a/sub").c_str(), &link), 0);
        EXPECT_TRUE(S_ISLNK(link.st_mode));
        ASSERT_EQ(lstat(scratch.path("real/a/x").c_str(), &link), 0);
        EXPECT_TRUE(S_ISREG(link.st_mode));
    }
}

// Entries in a subfolder hold no handle past their own: under a limit of 64
// open files, 200 of them are all written. A name ending in a separator
// names a folder, not a file: it is an open error, and no file is made.
TEST(UnpackerFault, NestedEntriesUnderALowOpenFileLimitThenAFolderName) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("a")));
    ASSERT_TRUE(make_dir(scratch.path("a/s")));
    ASSERT_TRUE(make_dir(scratch.path("a/s/t")));
    std::vector<PakItem> items;
    items.reserve(201);
    for (int i = 0; i < 200; ++i) items.push_back({"s/t/f" + std::to_string(i), "f"});
    items.push_back({"a/", "a"});
    ASSERT_TRUE(write_file(scratch.path("a.pak"), make_pak(items)));

    const ProcessResult run =
        run_program_with_limit(UNPACKER_PATH, {scratch.path("a.pak")}, "\n", RLIMIT_NOFILE, 64);

    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(count_of(run.output, " ...done.\n"), 200u);
    const std::string ending = ": a/ ...\nfile open error.\n" + kPress;
    EXPECT_EQ(run.output.substr(run.output.size() - std::min(run.output.size(), ending.size())), ending);
    EXPECT_EQ(list_names(scratch.path("a")), std::vector<std::string>{"s"});
    EXPECT_EQ(list_names(scratch.path("a/s/t")).size(), 200u);
}

// An entry written into a folder on another file system than the archive's,
// where the in-kernel copy cannot go and blocks are copied instead, arrives
// whole past its first block.
TEST(UnpackerFault, AnEntryCopiedAcrossFileSystemsArrivesWhole) {
    const ScratchDir on_disk;
    const ScratchInMemory in_memory;
    const ScratchDir archive_side;
    struct stat disk;
    struct stat memory;
    ASSERT_EQ(stat(on_disk.root.c_str(), &disk), 0);
    ASSERT_EQ(stat(archive_side.root.c_str(), &memory), 0);
    if (disk.st_dev == memory.st_dev) GTEST_SKIP() << "the scratch folders share one file system here";
    const std::string data = patterned_bytes((size_t{3} << 20) + 5);
    ASSERT_TRUE(write_file(archive_side.path("a.pak"), make_pak({{"big.bin", data}})));
    // The user's link to the archive: the folder is made beside the link.
    ASSERT_EQ(symlink(archive_side.path("a.pak").c_str(), on_disk.path("a.pak").c_str()), 0);

    const ProcessResult run = run_unpacker_program(on_disk.path("a.pak"));

    EXPECT_EQ(run.exit_status, 0) << run.output;
    EXPECT_TRUE(read_file(on_disk.path("a/big.bin")) == data);
}

// The output folder's name is the program's own: a link standing there,
// put by whoever controls the archive's folder, is never followed, whether
// the archive has entries or none, and the message stands on its own line.
// A file standing there fails an archive with no entry to fail on just the
// same, and stays as it was.
TEST(UnpackerFault, NeverFollowsALinkAtTheOutputFoldersName) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("elsewhere")));
    ASSERT_EQ(symlink("elsewhere", scratch.path("data").c_str()), 0);
    ASSERT_EQ(symlink("elsewhere", scratch.path("empty").c_str()), 0);
    ASSERT_TRUE(write_file(scratch.path("file"), "in the way"));
    ASSERT_TRUE(write_file(scratch.path("data.pak"), make_pak({{"a.txt", "data"}})));
    ASSERT_TRUE(write_file(scratch.path("empty.pak"), make_pak({})));
    ASSERT_TRUE(write_file(scratch.path("file.pak"), make_pak({})));
    const std::pair<const char*, std::string> cases[] = {
        {"data.pak", "files: 1\n00000110 - 00000113: a.txt ...\nfile open error.\n" + kPress},
        {"empty.pak", "files: 0\nfile open error.\n" + kPress},
        {"file.pak", "files: 0\nfile open error.\n" + kPress}};
    for (const auto& [archive, expected] : cases) {
        const ProcessResult run = run_unpacker_program(scratch.path(archive));
        EXPECT_EQ(run.output, expected) << archive;
        EXPECT_EQ(run.exit_status, 1) << archive;
    }
    EXPECT_TRUE(list_names(scratch.path("elsewhere")).empty());
    EXPECT_EQ(read_file(scratch.path("file")), "in the way");
}

#endif
