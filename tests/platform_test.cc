#include "common/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

// A FIFO met by name or through a link, as a source listed as a link may be
// by the time it is opened, is refused without being opened for reading: a
// writer waiting for a reader is not woken. (A name listed as a plain file
// is opened directly, never blocking, and refused by its handle.)
TEST(OpenInputFile, RefusesAFifoWithoutWakingItsWriter) {
    ScratchDir dir;
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("fifo", dir.path("link.bmp").c_str()), 0);
    const pid_t writer = fork();
    if (writer == 0) _exit(open(fifo.c_str(), O_WRONLY) >= 0 ? 0 : 1);
    usleep(200000);  // the writer is waiting in its open by now
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, dir.root));
    InputFile input;
    EXPECT_FALSE(open_input_file(input, fifo));
    EXPECT_FALSE(open_input_file(input, dir.path("link.bmp")));
    EXPECT_FALSE(open_input_file_at(input, directory, "link.bmp", true));
    usleep(100000);
    EXPECT_EQ(waitpid(writer, nullptr, WNOHANG), 0) << "the writer was woken";
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    waitpid(writer, nullptr, 0);
    close(reader);
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
