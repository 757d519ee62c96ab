#include "common/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

std::vector<std::string> names_of(const std::vector<DirEntry>& entries) {
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const DirEntry& entry : entries) names.push_back(entry.name);
    return names;
}

bool write_safely(const std::string& directory, const std::string& relative, const std::string& bytes) {
    SafeOutput output;
    return safe_output_open(output, directory, relative, ".part") &&
           safe_output_write(output, bytes.data(), bytes.size()) && safe_output_commit(output);
}

}  // namespace

TEST(ListDirectory, FiltersByPatternAndKeepsAStableOrder) {
    ScratchDir dir;
    for (const char* name : {"b.TXT", "a.txt", "B.txt", "c.bin"}) ASSERT_TRUE(write_file(dir.path(name), ""));
    ASSERT_TRUE(make_dir(dir.path("d.txt")));
    std::vector<DirEntry> entries;
    ASSERT_TRUE(list_directory(dir.root, "*.txt", entries));
#ifdef _WIN32
    // Names differing only in letter case are one file there: writing
    // "B.txt" rewrote "b.TXT".
    EXPECT_EQ(names_of(entries), (std::vector<std::string>{"a.txt", "b.TXT", "d.txt"}));
#else
    EXPECT_EQ(names_of(entries), (std::vector<std::string>{"a.txt", "B.txt", "b.TXT", "d.txt"}));
#endif
    for (const DirEntry& entry : entries)
        EXPECT_EQ(entry.kind, entry.name == "d.txt" ? EntryKind::directory : EntryKind::regular);
    EXPECT_FALSE(list_directory(dir.path("missing"), "*.*", entries));
}

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
        SafeOutput output;
        ASSERT_TRUE(safe_output_open(output, dir.root, "out", ".part"));
        ASSERT_TRUE(safe_output_write(output, "new", 3));
        EXPECT_EQ(read_file(dir.path("out")), "old");
    }  // dropped without commit: the temporary goes, the old file stays
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"out"});
    EXPECT_EQ(read_file(dir.path("out")), "old");
    ASSERT_TRUE(write_safely(dir.root, "out", "new"));
    EXPECT_EQ(read_file(dir.path("out")), "new");
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"out"});
}

TEST(SafeOutput, WritesIntoExistingSubdirectoriesOnly) {
    ScratchDir dir;
    ASSERT_TRUE(make_dir(dir.path("sub")));
    EXPECT_TRUE(write_safely(dir.root, "sub/a", "a"));
    EXPECT_EQ(read_file(dir.path("sub/a")), "a");
    EXPECT_FALSE(write_safely(dir.root, "missing/a", "a"));
    EXPECT_FALSE(write_safely(dir.root, "sub/", "a"));
    EXPECT_FALSE(write_safely(dir.root, "", "a"));
    EXPECT_FALSE(write_safely(dir.root, "sub", "a")) << "a directory stands there";
    EXPECT_EQ(list_names(dir.path("sub")), std::vector<std::string>{"a"});
}

TEST(SafeOutput, CopiesARangeOfAnotherFile) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("source"), "0123456789"));
    InputFile source;
    ASSERT_TRUE(open_input_file(source, dir.path("source")));
    EXPECT_EQ(input_file_size(source), 10);
    SafeOutput output;
    ASSERT_TRUE(safe_output_open(output, dir.root, "range", ".part"));
    ASSERT_TRUE(safe_output_copy_from(output, source, 3, 4));
    EXPECT_FALSE(safe_output_copy_from(output, source, 8, 5)) << "the source ends early";
    ASSERT_TRUE(safe_output_commit(output));
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
}
#endif
