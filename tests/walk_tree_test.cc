#include "scrambler/walk_tree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/test_hooks.h"
#include "test_support.h"

#ifndef _WIN32
#include <pty.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#ifdef __linux__
#include <sys/inotify.h>
#endif

namespace {

std::string walk(const ScratchDir& dir, const std::string& pattern, bool* all_done = nullptr) {
    CapturedConsole capture;
    DirectoryHandle top;
    WrittenFileSystems written;
    const bool done = open_directory(top, dir.root) && walk_tree(top, pattern, capture.console, written);
    if (all_done != nullptr) *all_done = done;
    return capture.output();
}

}  // namespace

TEST(WalkTree, CopiesMatchingFilesInAnyCaseAndNeverCopiesCopies) {
    ScratchDir dir;
    for (const char* name : {"a.bmp", "_o_b.bmp", "c.BMP", "_O_x.bmp", "d.bmpx", "e.txt"})
        ASSERT_TRUE(write_file(dir.path(name), name));
    bool all_done = false;
    EXPECT_EQ(walk(dir, "*.bmp", &all_done), "a.bmp ...done.\nc.BMP ...done.\n");
    EXPECT_TRUE(all_done);
    EXPECT_EQ(list_names(dir.root),
              (std::vector<std::string>{"_O_x.bmp", "_o_a.bmp", "_o_b.bmp", "_o_c.BMP", "a.bmp",
                                        "c.BMP", "d.bmpx", "e.txt"}));
    EXPECT_EQ(read_file(dir.path("_o_b.bmp")), "_o_b.bmp");

    // A second walk rewrites the same copies and makes no new ones.
    EXPECT_EQ(walk(dir, "*.bmp"), "a.bmp ...done.\nc.BMP ...done.\n");
    EXPECT_EQ(list_names(dir.root).size(), 8u);
}

TEST(WalkTree, FilesComeBeforeSubdirectoriesAndLinesNameTheBareFile) {
    ScratchDir dir;
    ASSERT_TRUE(make_dir(dir.path("maps")));
    ASSERT_TRUE(make_dir(dir.path("_o_old")));
    ASSERT_TRUE(make_dir(dir.path("maps/deep")));
    ASSERT_TRUE(write_file(dir.path("maps/m.tga"), "m"));
    ASSERT_TRUE(write_file(dir.path("maps/deep/n.tga"), "n"));
    ASSERT_TRUE(write_file(dir.path("_o_old/o.tga"), "o"));
    ASSERT_TRUE(write_file(dir.path("z.tga"), "z"));
    for (const char* folder : {"level2", "level"}) ASSERT_TRUE(make_dir(dir.path(folder)));
    ASSERT_TRUE(write_file(dir.path("level2/2.tga"), "2"));
    ASSERT_TRUE(write_file(dir.path("level/1.tga"), "1"));
    // Subdirectories in name order, letter case ignored, a name before the
    // longer ones it begins; "_o_" directories are walked like any other.
    EXPECT_EQ(walk(dir, "*.tga"),
              "z.tga ...done.\no.tga ...done.\n1.tga ...done.\n2.tga ...done.\nm.tga ...done.\nn.tga ...done.\n");
    EXPECT_TRUE(file_exists(dir.path("maps/_o_m.tga")));
    EXPECT_TRUE(file_exists(dir.path("maps/deep/_o_n.tga")));
    EXPECT_TRUE(file_exists(dir.path("_o_old/_o_o.tga")));
}

TEST(WalkTree, ATreeWithoutMatchesPrintsNothing) {
    ScratchDir dir;
    ASSERT_TRUE(make_dir(dir.path("sub")));
    ASSERT_TRUE(write_file(dir.path("sub/a.png"), "a"));
    bool all_done = false;
    EXPECT_EQ(walk(dir, "*.txt", &all_done), "");
    EXPECT_TRUE(all_done);
}

#ifndef _WIN32

TEST(WalkTree, LinkedDirectoriesAreNotWalkedSoLoopsEnd) {
    ScratchDir dir;
    ScratchDir outside;
    ASSERT_TRUE(write_file(outside.path("far.txt"), "far"));
    ASSERT_TRUE(make_dir(dir.path("sub")));
    ASSERT_TRUE(write_file(dir.path("sub/a.txt"), "a"));
    ASSERT_EQ(symlink("..", dir.path("sub/loop").c_str()), 0);
    ASSERT_EQ(symlink(outside.root.c_str(), dir.path("away").c_str()), 0);
    bool all_done = false;
    EXPECT_EQ(walk(dir, "*.txt", &all_done), "a.txt ...done.\n");
    EXPECT_TRUE(all_done) << "a link not walked is no fault";
    EXPECT_EQ(list_names(outside.root), std::vector<std::string>{"far.txt"});
}

// A folder swapped for a link while the walk runs, just before the walk
// enters it or while the walk is inside it, or a file swapped for one after
// it was listed, never leads the walk out of the tree: nothing outside is
// read or written, and the run does not end as if all was done when a
// folder or file was passed over.
TEST(WalkTree, AFolderSwappedForALinkNeverLeadsOutOfTheTree) {
    struct Case {
        const char* swap_when;  // the subdirectory or file about to be opened
        const char* swapped;    // what is swapped for a link, within the tree
        const char* link_to;    // where the link leads, within `outside`
        const char* expected;
        bool all_done;
    };
    const Case cases[] = {
        {"b", "b", "", "", false},                      // b is a link by the time it is opened: not entered
        {"c", "b", "", "c.bmp ...done.\n", true},       // b is held open: c is found in the real b
        {"c.bmp", "b/c/c.bmp", "o.bmp", "c.bmp ...error.\n", false},  // listed as a file, now a link: not read
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        ScratchDir outside;
        ASSERT_TRUE(make_link_swap_scene(dir.root, outside.root));
        link_swap = {c.swap_when, dir.path(c.swapped), outside.path(c.link_to)};
        set_walk_hook(swap_folder_for_link);
        bool all_done = !c.all_done;
        EXPECT_EQ(walk(dir, "*.bmp", &all_done), c.expected) << c.swap_when;
        set_walk_hook(nullptr);
        EXPECT_TRUE(link_swap.linked) << c.swap_when;
        EXPECT_EQ(all_done, c.all_done) << c.swap_when;
        EXPECT_EQ(list_names(outside.root), (std::vector<std::string>{"c", "o.bmp"})) << c.swap_when;
        EXPECT_EQ(list_names(outside.path("c")), std::vector<std::string>{"o.bmp"}) << c.swap_when;
        EXPECT_FALSE(file_exists(dir.path("b/c/_o_c.bmp"))) << c.swap_when;
    }
}

namespace {

// What the terminal showed, and whether the copy stood, when the walk was
// about to open a.txt.
int g_screen = -1;
std::string g_shown;
std::string g_copy;
bool g_copy_stood = true;

void look_at_the_screen(const std::string& name) {
    if (name != "a.txt") return;
    g_copy_stood = file_exists(g_copy);
    read_until(g_screen, g_shown, "a.txt ...");
}

}  // namespace

// At a terminal a file's name is on the screen before its work starts,
// though its line is not finished yet.
TEST(WalkTree, AtATerminalANameIsShownBeforeItsFileIsCopied) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("a.txt"), "a"));
    int terminal = -1;
    ASSERT_EQ(openpty(&g_screen, &terminal, nullptr, nullptr, nullptr), 0);
    FILE* out = fdopen(terminal, "w");
    ASSERT_NE(out, nullptr);
    Console console = make_console(stdin, out);
    g_copy = dir.path("_o_a.txt");
    g_shown.clear();
    set_walk_hook(look_at_the_screen);
    DirectoryHandle top;
    ASSERT_TRUE(open_directory(top, dir.root));
    WrittenFileSystems written;
    EXPECT_TRUE(walk_tree(top, "*.txt", console, written));
    set_walk_hook(nullptr);
    std::fclose(out);
    close(g_screen);
    EXPECT_EQ(g_shown, "a.txt ...");
    EXPECT_FALSE(g_copy_stood);
    EXPECT_EQ(read_file(g_copy), scrambled("a"));
}

namespace {

std::string g_fifo_folder;

// Swaps d.txt, listed as a file, for a FIFO just before the walk opens it.
void swap_file_for_fifo(const std::string& name) {
    if (name != "d.txt") return;
    const std::string path = g_fifo_folder + "/" + name;
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
}

}  // namespace

// A FIFO, whether found by the listing or swapped in after it, is never
// read nor copied as empty. One the listing shows as a FIFO, and a device,
// is not even opened: that would wake a writer waiting on the FIFO, and a
// device may act on being opened.
TEST(WalkTree, SpecialFilesAreErrorsAndTheWalkGoesOn) {
    ScratchDir dir;
    ASSERT_EQ(mkfifo(dir.path("a.txt").c_str(), 0600), 0);
    ASSERT_EQ(symlink("nowhere", dir.path("b.txt").c_str()), 0);
    ASSERT_TRUE(write_file(dir.path("c.txt"), "c"));
    ASSERT_TRUE(write_file(dir.path("d.txt"), "d"));
    std::string expected = "a.txt ...error.\nb.txt ...error.\nc.txt ...done.\nd.txt ...error.\n";
    // The null device, where the system lets this user make one.
    if (mknod(dir.path("e.txt").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) expected += "e.txt ...error.\n";
#ifdef __linux__
    const int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(opens, 0);
    ASSERT_GE(inotify_add_watch(opens, dir.path("a.txt").c_str(), IN_OPEN), 0);
    if (file_exists(dir.path("e.txt"))) {
        ASSERT_GE(inotify_add_watch(opens, dir.path("e.txt").c_str(), IN_OPEN), 0);
    }
#endif
    g_fifo_folder = dir.root;
    set_walk_hook(swap_file_for_fifo);
    bool all_done = true;
    EXPECT_EQ(walk(dir, "*.txt", &all_done), expected);
    set_walk_hook(nullptr);
    EXPECT_FALSE(all_done);
    EXPECT_FALSE(file_exists(dir.path("_o_a.txt")));
    EXPECT_TRUE(file_exists(dir.path("_o_c.txt")));
    EXPECT_FALSE(file_exists(dir.path("_o_d.txt")));
#ifdef __linux__
    char event[4096];
    EXPECT_LT(read(opens, event, sizeof event), 0) << "a FIFO or device the listing showed was opened";
    close(opens);
#endif
}

#endif
