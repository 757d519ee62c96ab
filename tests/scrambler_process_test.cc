// The scrambler run as a real process with piped input: the bytes a script
// or a person sees are the same on Linux and on Windows, where standard
// output is binary ("\n", never "\r\n") and arguments are not expanded.

#include <gtest/gtest.h>

#include <string>

#include "scrambler/scramble_file.h"
#include "test_support.h"

TEST(ScramblerProcess, TranscriptAndCopiesAreTheSameBytesEverywhere) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("sub")));
    ASSERT_TRUE(write_file(scratch.path("x.txt"), "line one\r\nline two\n"));
    ASSERT_TRUE(write_file(scratch.path("y.bmp"), std::string("BM\0\x1a\r\n\xff", 7)));
    ASSERT_TRUE(write_file(scratch.path("sub/z.bmp"), ""));
    for (const char* name : {"w.tga", "sub/v.tga", "sub/u.txt"}) ASSERT_TRUE(write_file(scratch.path(name), name));

    // Every BMP of the tree, then every TGA, then every TXT, each kind's
    // top folder before its subfolder.
    const ProcessResult run = run_program(SCRAMBLER_PATH, {scratch.root}, "\n\n");
    EXPECT_EQ(run.output,
              "press enter to start...y.bmp ...done.\nz.bmp ...done.\nw.tga ...done.\nv.tga ...done.\n"
              "x.txt ...done.\nu.txt ...done.\nsuccessful.\npress enter key.\n");
    EXPECT_EQ(run.exit_status, 0);
    // Copies are binary: no line-end or end-of-file translation on the way.
    EXPECT_EQ(read_file(scratch.path("_o_x.txt")), scrambled("line one\r\nline two\n"));
    EXPECT_EQ(read_file(scratch.path("_o_y.bmp")), scrambled(std::string("BM\0\x1a\r\n\xff", 7)));
    bool ok = false;
    EXPECT_EQ(read_file(scratch.path("sub/_o_z.bmp"), &ok), "");
    EXPECT_TRUE(ok);
}

TEST(ScramblerProcess, RefusedArgumentsAsTyped) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("a.bmp"), "a"));
    ASSERT_TRUE(write_file(scratch.path("b.bmp"), "b"));

    // A wildcard reaches the program unexpanded and names nothing.
    ProcessResult run = run_program(SCRAMBLER_PATH, {scratch.path("*.bmp")}, "\n");
    EXPECT_EQ(run.output, "directory open error.\npress enter key.\n");

    run = run_program(SCRAMBLER_PATH, {scratch.path("a.bmp")}, "\n");
    EXPECT_EQ(run.output, "It isn't directory.\npress enter key.\n");
    EXPECT_EQ(run.exit_status, 1);

    run = run_program(SCRAMBLER_PATH, {}, "\n");
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.exit_status, 2);
    run = run_program(SCRAMBLER_PATH, {scratch.root, scratch.root}, "\n");
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"a.bmp", "b.bmp"}));
}
