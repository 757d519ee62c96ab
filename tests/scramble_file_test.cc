#include "scrambler/scramble_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

TEST(ScrambleFile, EveryByteIsXoredWithTheKeyRepeatingEvery15Bytes) {
    ScratchDir dir;
    // Around the key length, and past the copy's block (a multiple of 15)
    // with a length that is not, to catch a key that restarts per block.
    // The expected copies come from the key written out byte for byte in
    // the tests' own support, so no key byte can be wrong.
    for (const size_t length : {0u, 1u, 15u, 16u, 30u, 245760u + 7u, 3u * 245760u + 1000u}) {
        const std::string plain = patterned_bytes(length);
        ASSERT_TRUE(write_file(dir.path("in.bmp"), plain));
        ASSERT_EQ(scramble_file(dir.path("in.bmp"), dir.path("_o_in.bmp")), 0) << length;
        EXPECT_EQ(read_file(dir.path("_o_in.bmp")), scrambled(plain)) << length;
    }
    EXPECT_TRUE(temporaries(list_names(dir.root)).empty());
}

TEST(ScrambleFile, ScramblingTheCopyGivesTheSourceBack) {
    ScratchDir dir;
    const std::string plain = patterned_bytes(100000);
    ASSERT_TRUE(write_file(dir.path("a.tga"), plain));
    ASSERT_EQ(scramble_file(dir.path("a.tga"), dir.path("_o_a.tga")), 0);
    ASSERT_EQ(scramble_file(dir.path("_o_a.tga"), dir.path("back.tga")), 0);
    EXPECT_EQ(read_file(dir.path("back.tga")), plain);
}

TEST(ScrambleFile, FailuresLeaveNoCopyAndTouchNoSource) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("a.bmp"), "source"));
    // A source that cannot be opened creates no destination.
    EXPECT_EQ(scramble_file(dir.path("missing.bmp"), dir.path("_o_missing.bmp")), -1);
    EXPECT_FALSE(file_exists(dir.path("_o_missing.bmp")));
    // A destination in a folder that does not exist.
    EXPECT_EQ(scramble_file(dir.path("a.bmp"), dir.path("nowhere/_o_a.bmp")), -1);
    // A directory standing at the destination's name is left as it is.
    ASSERT_TRUE(make_dir(dir.path("_o_a.bmp")));
    EXPECT_EQ(scramble_file(dir.path("a.bmp"), dir.path("_o_a.bmp")), -1);
    EXPECT_EQ(read_file(dir.path("a.bmp")), "source");
    // A source that shrinks after it was opened leaves no copy of bytes
    // that were never read.
    ASSERT_TRUE(write_file(dir.path("b.bmp"), patterned_bytes(300000)));
    InputFile source;
    DirectoryHandle directory;
    ASSERT_TRUE(open_input_file(source, dir.path("b.bmp")));
    ASSERT_TRUE(open_directory(directory, dir.root));
    std::error_code error;
    std::filesystem::resize_file(dir.path("b.bmp"), 1000, error);
    ASSERT_FALSE(error);
    EXPECT_FALSE(scramble_into(source, directory, "_o_b.bmp"));
    EXPECT_FALSE(file_exists(dir.path("_o_b.bmp")));
    EXPECT_TRUE(temporaries(list_names(dir.root)).empty());
}

TEST(ScrambleFile, AnExistingCopyIsReplacedWhole) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("_o_a.bmp"), std::string(5000, 'x')));
    ASSERT_TRUE(write_file(dir.path("a.bmp"), "ab"));
    ASSERT_EQ(scramble_file(dir.path("a.bmp"), dir.path("_o_a.bmp")), 0);
    EXPECT_EQ(read_file(dir.path("_o_a.bmp")), scrambled("ab"));
}

#ifndef _WIN32

TEST(ScrambleFile, ALinkAtTheCopysNameIsReplacedAndItsTargetUntouched) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("precious"), "keep me"));
    ASSERT_EQ(symlink(dir.path("precious").c_str(), dir.path("_o_a.bmp").c_str()), 0);
    ASSERT_TRUE(write_file(dir.path("a.bmp"), "abc"));
    ASSERT_EQ(scramble_file(dir.path("a.bmp"), dir.path("_o_a.bmp")), 0);
    EXPECT_EQ(read_file(dir.path("precious")), "keep me");
    struct stat info;
    ASSERT_EQ(lstat(dir.path("_o_a.bmp").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(read_file(dir.path("_o_a.bmp")), scrambled("abc"));
}

TEST(ScrambleFile, ALinkToARegularFileIsReadThrough) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("real"), "linked"));
    ASSERT_EQ(symlink(dir.path("real").c_str(), dir.path("a.txt").c_str()), 0);
    ASSERT_EQ(scramble_file(dir.path("a.txt"), dir.path("_o_a.txt")), 0);
    EXPECT_EQ(read_file(dir.path("_o_a.txt")), scrambled("linked"));
}

TEST(ScrambleFile, AFifoIsRefusedWithoutBlocking) {
    ScratchDir dir;
    ASSERT_EQ(mkfifo(dir.path("pipe.txt").c_str(), 0600), 0);
    // Opening a FIFO for reading blocks until a writer comes; none will.
    EXPECT_EQ(scramble_file(dir.path("pipe.txt"), dir.path("_o_pipe.txt")), -1);
    EXPECT_FALSE(file_exists(dir.path("_o_pipe.txt")));
    EXPECT_TRUE(temporaries(list_names(dir.root)).empty());
}

#endif
