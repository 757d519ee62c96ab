#include "scrambler/run_scrambler.h"
#include "scrambler/walk_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_hooks.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

TEST(RunScrambler, RefusedPathsGetTheirMessageOnePauseAndNoWork) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("file.bmp"), "f"));
    DriverRun run = run_scrambler_driver({dir.path("missing")}, "\n\n");
    EXPECT_EQ(run.output, "directory open error.\n" + kPress);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.unread, "\n");

    run = run_scrambler_driver({dir.path("file.bmp")}, "\n\n");
    EXPECT_EQ(run.output, "It isn't directory.\n" + kPress);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.unread, "\n");
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"file.bmp"});

    EXPECT_EQ(run_scrambler_driver({""}).output, "directory open error.\n" + kPress);
}

TEST(RunScrambler, ALineTypedAtTheFirstPauseSatisfiesTheLast) {
    ScratchDir dir;
    // "go\n": the first pause takes 'g', the last takes 'o', "\n" is left.
    EXPECT_EQ(run_scrambler_driver({dir.root}, "go\n").unread, "\n");
    // Enter alone at the first pause leaves the last one waiting for more.
    EXPECT_EQ(run_scrambler_driver({dir.root}, "\nq").unread, "");
    // At the end of input both pauses return at once.
    EXPECT_EQ(run_scrambler_driver({dir.root}, "").output, "press enter to start...successful.\n" + kPress);
}

#ifndef _WIN32
// The folder given is opened once and held from the probe to the last walk:
// swapped for a link to another tree during the first walk, it still leads
// the later walks into the same tree, never into the other one.
TEST(RunScrambler, TheGivenFolderIsHeldForAllThreeWalks) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("t")));
    ASSERT_TRUE(make_dir(scratch.path("t/sub")));
    ASSERT_TRUE(write_file(scratch.path("t/x.tga"), "x"));
    ASSERT_TRUE(make_dir(scratch.path("other")));
    ASSERT_TRUE(write_file(scratch.path("other/victim.tga"), "v"));
    link_swap = {"sub", scratch.path("t"), scratch.path("other")};
    set_walk_hook(swap_folder_for_link);
    const DriverRun run = run_scrambler_driver({scratch.path("t")});
    set_walk_hook(nullptr);
    EXPECT_TRUE(link_swap.linked);
    EXPECT_EQ(run.output, "press enter to start...x.tga ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(list_names(scratch.path("other")), std::vector<std::string>{"victim.tga"});
    EXPECT_EQ(read_file(scratch.path("t.real/_o_x.tga")), scrambled("x"));
}

TEST(RunScrambler, AFileErrorStillEndsSuccessfulButExitsOne) {
    ScratchDir dir;
    ASSERT_EQ(mkfifo(dir.path("a.bmp").c_str(), 0600), 0);
    ASSERT_TRUE(write_file(dir.path("b.txt"), "b"));
    const DriverRun run = run_scrambler_driver({dir.root});
    EXPECT_EQ(run.output,
              "press enter to start...a.bmp ...error.\nb.txt ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(run.status, 1);
}
#endif

// Hundreds of files in one folder, a large one among them and copies that
// fail here and there: the transcript names each in order with its result,
// and every copy after a failure is still made.
TEST(RunScrambler, ManyFilesKeepTheOrderAndGoOnAfterAFailure) {
    ScratchDir dir;
    std::string expected = "press enter to start...";
    for (int i = 0; i < 600; ++i) {
        std::string name = "f";
        name += std::to_string(1000 + i);
        name += ".txt";
        const bool big = i == 300;
        ASSERT_TRUE(write_file(dir.path(name), patterned_bytes(big ? 100000 : 10 + static_cast<size_t>(i))));
        const bool blocked = i == 0 || i == 255 || i == 256 || i == 299 || i == 599;
        if (blocked) {
            ASSERT_TRUE(make_dir(dir.path("_o_" + name)));
        }
        expected += name + (blocked ? " ...error.\n" : " ...done.\n");
    }
    expected += "successful.\n" + kPress;
    const DriverRun run = run_scrambler_driver({dir.root});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(read_file(dir.path("_o_f1001.txt")), scrambled(patterned_bytes(11)));
    EXPECT_EQ(read_file(dir.path("_o_f1300.txt")), scrambled(patterned_bytes(100000)));
    EXPECT_EQ(read_file(dir.path("_o_f1598.txt")), scrambled(patterned_bytes(608)));
    EXPECT_TRUE(temporaries(list_names(dir.root)).empty());
}
