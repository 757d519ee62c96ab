#include "common/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/safe_output.h"
#include "test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool write_safely(const std::string& directory, const std::string& relative, const std::string& bytes) {
    DirectoryHandle handle;
    SafeOutput output;
    return open_directory(handle, directory) && safe_output_open(output, handle, relative, ".part") &&
           safe_output_write(output, bytes.data(), bytes.size()) &&
           safe_output_commit(output) == CommitResult::committed;
}

}  // namespace

TEST(ListDirectory, ListsEverythingInAStableOrder) {
    ScratchDir dir;
    for (const char* name : {"b.TXT", "a.txt", "B.txt", "c.bin"}) ASSERT_TRUE(write_file(dir.path(name), ""));
    ASSERT_TRUE(make_dir(dir.path("d.txt")));
    DirectoryHandle handle;
    ASSERT_TRUE(open_directory(handle, dir.root));
    DirListing entries;
    ASSERT_TRUE(list_directory(handle, entries));
#ifdef _WIN32
    // Names differing only in letter case are one file there: writing
    // "B.txt" rewrote "b.TXT".
    EXPECT_EQ(names_of(entries), (std::vector<std::string>{"a.txt", "b.TXT", "c.bin", "d.txt"}));
#else
    EXPECT_EQ(names_of(entries), (std::vector<std::string>{"a.txt", "B.txt", "b.TXT", "c.bin", "d.txt"}));
#endif
    for (const DirEntry& entry : entries.entries)
        EXPECT_EQ(entry.kind, entry_name(entries, entry) == "d.txt" ? EntryKind::directory : EntryKind::regular);
    DirectoryHandle missing;
    const OsStatus opened = open_directory(missing, dir.path("missing"));
    EXPECT_FALSE(opened);
    EXPECT_NE(opened.error, 0) << "the cause is kept";
}

#ifndef _WIN32
// A read may come back short long before the end, as from a pipe; reading
// fully goes on to the length asked for or to the end, each piece after the
// last.
TEST(ReadInput, FullyGoesOnPastShortReads) {
    int ends[2];
    // In packet mode each write is read back alone, so the short read is sure.
    ASSERT_EQ(pipe2(ends, O_DIRECT), 0);
    ASSERT_EQ(write(ends[1], "abc", 3), 3);
    ASSERT_EQ(write(ends[1], "def", 3), 3);
    close(ends[1]);
    InputFile input;
    input.fd = ends[0];
    char buffer[8] = {};
    EXPECT_EQ(read_input_fully(input, buffer, sizeof buffer), 6);
    EXPECT_EQ(std::string(buffer, 6), "abcdef");
}
#endif

TEST(ProbePath, TellsDirectoriesFromFilesAndNothing) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("f"), ""));
    EXPECT_EQ(probe_path(dir.root), PathKind::directory);
    EXPECT_EQ(probe_path(dir.path("f")), PathKind::other);
    EXPECT_EQ(probe_path(dir.path("none")), PathKind::missing);
    EXPECT_EQ(probe_path(""), PathKind::missing);
}

TEST(SafeOutput, NothingStandsUnderTheFinalNameUntilCommit) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("out"), "old"));
    {
        DirectoryHandle handle;
        ASSERT_TRUE(open_directory(handle, dir.root));
        SafeOutput output;
        ASSERT_TRUE(safe_output_open(output, handle, "out", ".part"));
        ASSERT_TRUE(safe_output_write(output, "new", 3));
        EXPECT_EQ(read_file(dir.path("out")), "old");
    }  // dropped without commit: the temporary goes, the old file stays
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"out"});
    EXPECT_EQ(read_file(dir.path("out")), "old");
    ASSERT_TRUE(write_safely(dir.root, "out", "new"));
    EXPECT_EQ(read_file(dir.path("out")), "new");
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"out"});
}

// Subdirectories are never created, a name ending in a separator or naming
// a directory is never a file, and a directory at the final name is told
// apart from other failures and left as it was.
TEST(SafeOutput, WritesIntoExistingSubdirectoriesOnly) {
    ScratchDir dir;
    ASSERT_TRUE(make_dir(dir.path("sub")));
    EXPECT_TRUE(write_safely(dir.root, "sub/a", "a"));
    EXPECT_EQ(read_file(dir.path("sub/a")), "a");
    for (const char* name : {"missing/a", "sub/", "", ".", "sub/."}) EXPECT_FALSE(write_safely(dir.root, name, "a")) << name;
    DirectoryHandle handle;
    ASSERT_TRUE(open_directory(handle, dir.root));
    SafeOutput output;
    // Found at the latest when committing; some platforms refuse already here.
    if (safe_output_open(output, handle, "sub", ".part")) {
        ASSERT_TRUE(safe_output_write(output, "x", 1));
        EXPECT_EQ(safe_output_commit(output), CommitResult::cannot_replace);
    }
    EXPECT_EQ(list_names(dir.path("sub")), std::vector<std::string>{"a"});
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"sub"});
    DirectoryHandle closed;
    EXPECT_FALSE(safe_output_open(output, closed, "x", ".part"));
}

TEST(SafeOutput, CopiesARangeOfAnotherFile) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("source"), "0123456789"));
    InputFile source;
    ASSERT_TRUE(open_input_file(source, dir.path("source")));
    EXPECT_EQ(source.size, 10);
    DirectoryHandle handle;
    ASSERT_TRUE(open_directory(handle, dir.root));
    SafeOutput output;
    ASSERT_TRUE(safe_output_open(output, handle, "range", ".part"));
    ASSERT_TRUE(safe_output_copy_from(output, source, 3, 4));
    EXPECT_FALSE(safe_output_copy_from(output, source, 8, 5)) << "the source ends early";
    EXPECT_NE(output.error(), 0);
    EXPECT_EQ(safe_output_commit(output), CommitResult::committed);
    EXPECT_EQ(read_file(dir.path("range")).substr(0, 4), "3456");
}

#ifndef _WIN32
TEST(SafeOutput, NeverWritesThroughLinks) {
    ScratchDir dir;
    ScratchDir outside;
    ASSERT_TRUE(write_file(outside.path("target"), "outside"));
    ASSERT_EQ(symlink(outside.path("target").c_str(), dir.path("file").c_str()), 0);
    ASSERT_EQ(symlink(outside.root.c_str(), dir.path("linkdir").c_str()), 0);
    EXPECT_TRUE(write_safely(dir.root, "file", "mine"));
    EXPECT_EQ(read_file(outside.path("target")), "outside");
    EXPECT_FALSE(write_safely(dir.root, "linkdir/target", "mine"));
    EXPECT_EQ(list_names(outside.root), std::vector<std::string>{"target"});
    // The directory handed in may itself be a link the user made.
    EXPECT_TRUE(write_safely(dir.path("linkdir"), "new", "mine"));
    EXPECT_EQ(read_file(outside.path("new")), "mine");
    // A subdirectory opened through its handle refuses a link as well.
    DirectoryHandle top;
    DirectoryHandle child;
    ASSERT_TRUE(open_directory(top, dir.root));
    EXPECT_FALSE(open_subdirectory(child, top, "linkdir"));
}
#endif
