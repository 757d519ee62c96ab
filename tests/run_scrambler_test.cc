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

namespace {

DriverRun scramble(const std::vector<std::string>& arguments, const std::string& typed = "\n\n") {
    return run_driver(run_scrambler, arguments, typed);
}

// The three passes' order over a small tree, as a person sees it.
void make_order_tree(const ScratchDir& dir) {
    ASSERT_TRUE(write_file(dir.path("x.txt"), "x"));
    ASSERT_TRUE(write_file(dir.path("y.bmp"), "y"));
    ASSERT_TRUE(make_dir(dir.path("sub")));
    ASSERT_TRUE(write_file(dir.path("sub/z.bmp"), "z"));
}

const char kOrderTranscript[] =
    "press enter to start..."
    "y.bmp ...done.\n"
    "z.bmp ...done.\n"
    "x.txt ...done.\n"
    "successful.\npress enter key.\n";

}  // namespace

TEST(RunScrambler, WalksAllBmpThenTgaThenTxtAcrossTheTree) {
    ScratchDir dir;
    make_order_tree(dir);
    const DriverRun run = scramble({dir.root});
    EXPECT_EQ(run.output, kOrderTranscript);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.unread, "");
    // A trailing separator on the argument changes nothing.
    EXPECT_EQ(scramble({dir.root + "/"}).output, kOrderTranscript);
}

TEST(RunScrambler, WrongArgumentCountsEndSilentlyWithoutAPause) {
    for (const auto& arguments : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
        const DriverRun run = scramble(arguments, "\n");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(run.unread, "\n") << "the program paused";
    }
}

TEST(RunScrambler, RefusedPathsGetTheirMessageOnePauseAndNoWork) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("file.bmp"), "f"));
    DriverRun run = scramble({dir.path("missing")}, "\n\n");
    EXPECT_EQ(run.output, "directory open error.\npress enter key.\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.unread, "\n");

    run = scramble({dir.path("file.bmp")}, "\n\n");
    EXPECT_EQ(run.output, "It isn't directory.\npress enter key.\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.unread, "\n");
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"file.bmp"});

    EXPECT_EQ(scramble({""}).output, "directory open error.\npress enter key.\n");
}

TEST(RunScrambler, ALineTypedAtTheFirstPauseSatisfiesTheLast) {
    ScratchDir dir;
    // "go\n": the first pause takes 'g', the last takes 'o', "\n" is left.
    EXPECT_EQ(scramble({dir.root}, "go\n").unread, "\n");
    // Enter alone at the first pause leaves the last one waiting for more.
    EXPECT_EQ(scramble({dir.root}, "\nq").unread, "");
    // At the end of input both pauses return at once.
    EXPECT_EQ(scramble({dir.root}, "").output, "press enter to start...successful.\npress enter key.\n");
}

#ifndef _WIN32
namespace {

// Swaps the folder being scrambled for a link to another tree the first
// time the walk is about to enter its subfolder "sub".
std::string g_top;
std::string g_elsewhere;
bool g_swapped = false;

void swap_top_once(const std::string& name) {
    if (g_swapped || name != "sub") return;
    g_swapped = true;
    ASSERT_EQ(rename(g_top.c_str(), (g_top + ".old").c_str()), 0);
    ASSERT_EQ(symlink(g_elsewhere.c_str(), g_top.c_str()), 0);
}

}  // namespace

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
    g_top = scratch.path("t");
    g_elsewhere = scratch.path("other");
    g_swapped = false;
    set_walk_hook(swap_top_once);
    const DriverRun run = scramble({scratch.path("t")});
    set_walk_hook(nullptr);
    EXPECT_TRUE(g_swapped);
    EXPECT_EQ(run.output, "press enter to start...x.tga ...done.\nsuccessful.\npress enter key.\n");
    EXPECT_EQ(list_names(scratch.path("other")), std::vector<std::string>{"victim.tga"});
    EXPECT_EQ(read_file(scratch.path("t.old/_o_x.tga")), scrambled("x"));
}

TEST(RunScrambler, AFileErrorStillEndsSuccessfulButExitsOne) {
    ScratchDir dir;
    ASSERT_EQ(mkfifo(dir.path("a.bmp").c_str(), 0600), 0);
    ASSERT_TRUE(write_file(dir.path("b.txt"), "b"));
    const DriverRun run = scramble({dir.root});
    EXPECT_EQ(run.output,
              "press enter to start...a.bmp ...error.\nb.txt ...done.\nsuccessful.\npress enter key.\n");
    EXPECT_EQ(run.status, 1);
}
#endif

TEST(ScramblerProgram, RunsWithPipedInputLikeTheDriver) {
    ScratchDir dir;
    make_order_tree(dir);
    ProcessResult result = run_program(SCRAMBLER_PATH, {dir.root}, "\n\n");
    EXPECT_EQ(result.output, kOrderTranscript);
    EXPECT_EQ(result.exit_status, 0);

    result = run_program(SCRAMBLER_PATH, {}, "\n");
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.exit_status, 2);

    result = run_program(SCRAMBLER_PATH, {dir.path("missing")}, "");
    EXPECT_EQ(result.output, "directory open error.\npress enter key.\n");
    EXPECT_EQ(result.exit_status, 1);
}

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
    expected += "successful.\npress enter key.\n";
    const DriverRun run = scramble({dir.root});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(read_file(dir.path("_o_f1001.txt")), scrambled(patterned_bytes(11)));
    EXPECT_EQ(read_file(dir.path("_o_f1300.txt")), scrambled(patterned_bytes(100000)));
    EXPECT_EQ(read_file(dir.path("_o_f1598.txt")), scrambled(patterned_bytes(608)));
    EXPECT_TRUE(temporaries(list_names(dir.root)).empty());
}
