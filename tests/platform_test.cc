#include "common/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

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
    const Status opened = open_directory(missing, dir.path("missing"));
    EXPECT_EQ(opened.failure, Failure::directory);
    EXPECT_NE(opened.code, 0) << "the cause is kept";
}

TEST(ProbePath, TellsDirectoriesFromFilesAndNothing) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("f"), ""));
    EXPECT_EQ(probe_path(dir.root), PathKind::directory);
    EXPECT_EQ(probe_path(dir.path("f")), PathKind::other);
    EXPECT_EQ(probe_path(dir.path("none")), PathKind::missing);
    EXPECT_EQ(probe_path(""), PathKind::missing);
}
