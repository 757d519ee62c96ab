// The scrambler run as a real process with piped input: the bytes a script
// or a person sees are the same on Linux and on Windows, where standard
// output is binary ("\n", never "\r\n") and arguments are not expanded.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "scrambler/scramble_file.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

TEST(ScramblerProcess, TranscriptAndCopiesAreTheSameBytesEverywhere) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("sub")));
    ASSERT_TRUE(write_file(scratch.path("x.txt"), "line one\r\nline two\n"));
    ASSERT_TRUE(write_file(scratch.path("y.bmp"), std::string("BM\0\x1a\r\n\xff", 7)));
    ASSERT_TRUE(write_file(scratch.path("sub/z.bmp"), ""));
    for (const char* name : {"w.tga", "sub/v.tga", "sub/u.txt"}) ASSERT_TRUE(write_file(scratch.path(name), name));

    // Every BMP of the tree, then every TGA, then every TXT, each kind's
    // top folder before its subfolder; a separator after the folder's name
    // changes nothing.
    const std::string transcript =
        "press enter to start...y.bmp ...done.\nz.bmp ...done.\nw.tga ...done.\nv.tga ...done.\n"
        "x.txt ...done.\nu.txt ...done.\nsuccessful.\n" + kPress;
    const ProcessResult run = run_scrambler_program(scratch.root + "/");
    EXPECT_EQ(run.output, transcript);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run_scrambler_program(scratch.root).output, transcript);
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
    EXPECT_EQ(run.output, "directory open error.\n" + kPress);
    EXPECT_EQ(run.exit_status, 1);

    run = run_program(SCRAMBLER_PATH, {scratch.path("a.bmp")}, "\n");
    EXPECT_EQ(run.output, "It isn't directory.\n" + kPress);
    EXPECT_EQ(run.exit_status, 1);

    // A wrong number of arguments ends at once: nothing shown, no pause.
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {scratch.root, scratch.root}}) {
        run = run_program(SCRAMBLER_PATH, arguments, "\n");
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(run.exit_status, 2);
        EXPECT_EQ(run.unread, "\n") << "the program paused";
    }
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"a.bmp", "b.bmp"}));

    // There are no options: --help names a folder.
    ASSERT_TRUE(make_dir(scratch.path("--help")));
    ASSERT_TRUE(write_file(scratch.path("--help/h.txt"), "h"));
    const std::filesystem::path started_in = std::filesystem::current_path();
    std::filesystem::current_path(scratch.root);
    run = run_program(SCRAMBLER_PATH, {"--help"}, "\n\n");
    std::filesystem::current_path(started_in);
    EXPECT_EQ(run.output, "press enter to start...h.txt ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"--help", "a.bmp", "b.bmp"}));
}

#ifndef _WIN32
// The folder given as a link to it, holding what is not a plain file under
// matching names: a link to a file is scrambled through, a FIFO is an error
// without blocking, a folder named like an asset is walked as a folder, and
// a file that fails does not end its walk nor skip the later ones, nor
// does one whose copy's name would pass the system's 255 bytes.
TEST(ScramblerProcess, ALinkedFolderOfOddSources) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("real")));
    ASSERT_EQ(mkfifo(scratch.path("real/fifo.bmp").c_str(), 0600), 0);
    ASSERT_TRUE(write_file(scratch.path("real/data.bin"), "data"));
    ASSERT_EQ(symlink("data.bin", scratch.path("real/link.bmp").c_str()), 0);
    ASSERT_TRUE(make_dir(scratch.path("real/pics.bmp")));
    ASSERT_TRUE(write_file(scratch.path("real/pics.bmp/p.tga"), "p"));
    ASSERT_TRUE(write_file(scratch.path("real/x.tga"), "x"));
    // A folder where its copy would go makes this file fail.
    ASSERT_TRUE(write_file(scratch.path("real/bad.bmp"), "bad"));
    ASSERT_TRUE(make_dir(scratch.path("real/_o_bad.bmp")));
    const std::string too_long = std::string(249, 'm') + ".txt";  // its copy's name: 256 bytes
    const std::string longest = std::string(248, 'n') + ".txt";
    ASSERT_TRUE(write_file(scratch.path("real/" + too_long), "m"));
    ASSERT_TRUE(write_file(scratch.path("real/" + longest), "n"));
    ASSERT_EQ(symlink("real", scratch.path("link").c_str()), 0);

    const ProcessResult run = run_program(SCRAMBLER_PATH, {scratch.path("link")}, "\n\n");
    EXPECT_EQ(run.output,
              "press enter to start...bad.bmp ...error.\nfifo.bmp ...error.\nlink.bmp ...done.\n"
              "x.tga ...done.\np.tga ...done.\n" + too_long + " ...error.\n" + longest +
                  " ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(read_file(scratch.path("real/_o_link.bmp")), scrambled("data"));
    EXPECT_EQ(read_file(scratch.path("real/pics.bmp/_o_p.tga")), scrambled("p"));
    EXPECT_EQ(read_file(scratch.path("real/_o_" + longest)), scrambled("n"));
    EXPECT_EQ(list_names(scratch.path("real")),
              (std::vector<std::string>{"_o_bad.bmp", "_o_link.bmp", "_o_" + longest, "_o_x.tga", "bad.bmp",
                                        "data.bin", "fifo.bmp", "link.bmp", too_long, longest, "pics.bmp", "x.tga"}));
}
#endif
