// The safe output's contract, through its calls: nothing under the final
// name until commit, existing subdirectories only, ranges of another file,
// and never through a link.

#include "common/safe_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

#ifdef _WIN32
#include "common/file_protection-win32.h"
#include "common/safe_output_state-win32.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/test_hooks.h"
#endif

TEST(SafeOutput, NothingStandsUnderTheFinalNameUntilCommit) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("out"), "old"));
    DirectoryHandle handle;
    ASSERT_TRUE(open_directory(handle, dir.root));
    bool unnamed = false;
    {
        SafeOutput output;
        ASSERT_TRUE(safe_output_open(output, handle, "out", ".part"));
        ASSERT_TRUE(safe_output_write(output, "new", 3));
        EXPECT_EQ(read_file(dir.path("out")), "old");
        unnamed = list_names(dir.root).size() == 1;
    }  // dropped without commit: the temporary goes, the old file stays
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"out"});
    EXPECT_EQ(read_file(dir.path("out")), "old");
    ASSERT_TRUE(write_safely(handle, "out", "new"));
    EXPECT_EQ(read_file(dir.path("out")), "new");
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"out"});
    // Where the folder takes unnamed files, a file of untold size replacing
    // another is one too, right after a replacement as well: a named one
    // would take the folder's default ACL, and whoever that lets in could
    // open it before the ACL is taken off.
    SafeOutput again;
    ASSERT_TRUE(safe_output_open(again, handle, "out", ".part"));
    EXPECT_EQ(list_names(dir.root).size() == 1, unnamed);
}

// Subdirectories are never created, a name ending in a separator or naming
// a directory is never a file, and a directory at the final name is told
// apart from other failures and left as it was.
TEST(SafeOutput, WritesIntoExistingSubdirectoriesOnly) {
    ScratchDir dir;
    ASSERT_TRUE(make_dir(dir.path("sub")));
    DirectoryHandle handle;
    ASSERT_TRUE(open_directory(handle, dir.root));
    EXPECT_TRUE(write_safely(handle, "sub/a", "a"));
    EXPECT_EQ(read_file(dir.path("sub/a")), "a");
    for (const char* name : {"missing/a", "sub/", "", ".", "sub/."}) EXPECT_FALSE(write_safely(handle, name, "a")) << name;
    SafeOutput output;
    // Found at the latest when committing; some platforms refuse already here.
    if (safe_output_open(output, handle, "sub", ".part")) {
        ASSERT_TRUE(safe_output_write(output, "x", 1));
        EXPECT_EQ(safe_output_commit(output).failure, Failure::cannot_replace);
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
    ASSERT_TRUE(safe_output_commit(output));
    EXPECT_EQ(read_file(dir.path("range")), "3456");
    // A source that ends early is the source's failure, and nothing is put in place.
    ASSERT_TRUE(safe_output_open(output, handle, "short", ".part"));
    EXPECT_EQ(safe_output_copy_from(output, source, 8, 5).failure, Failure::reading);
    EXPECT_FALSE(safe_output_commit(output));
    EXPECT_EQ(list_names(dir.root), (std::vector<std::string>{"range", "source"}));
}

#ifndef _WIN32
TEST(SafeOutput, NeverWritesThroughLinks) {
    ScratchDir dir;
    ScratchDir outside;
    ASSERT_TRUE(write_file(outside.path("target"), "outside"));
    ASSERT_EQ(symlink(outside.path("target").c_str(), dir.path("file").c_str()), 0);
    ASSERT_EQ(symlink(outside.root.c_str(), dir.path("linkdir").c_str()), 0);
    DirectoryHandle top;
    ASSERT_TRUE(open_directory(top, dir.root));
    EXPECT_TRUE(write_safely(top, "file", "mine"));
    EXPECT_EQ(read_file(outside.path("target")), "outside");
    EXPECT_FALSE(write_safely(top, "linkdir/target", "mine"));
    EXPECT_EQ(list_names(outside.root), std::vector<std::string>{"target"});
    // The directory handed in may itself be a link the user made.
    DirectoryHandle linked;
    ASSERT_TRUE(open_directory(linked, dir.path("linkdir")));
    EXPECT_TRUE(write_safely(linked, "new", "mine"));
    EXPECT_EQ(read_file(outside.path("new")), "mine");
    // A subdirectory opened through its handle refuses a link as well.
    DirectoryHandle child;
    EXPECT_FALSE(open_subdirectory(child, top, "linkdir"));
}
#endif

// A name that would lead out of the directory, or that is no file's name,
// is refused before anything is made, wherever it would lead.
TEST(SafeOutput, RefusesNamesThatLeaveTheDirectory) {
    ScratchDir dir;
    ASSERT_TRUE(make_dir(dir.path("inner")));
    DirectoryHandle inner;
    ASSERT_TRUE(open_directory(inner, dir.path("inner")));
    for (const std::string& name : {std::string("../escaped.txt"), std::string("x/../../escaped.txt"),
                                    std::string("./escaped.txt"), std::string("."), std::string(".."),
                                    dir.path("escaped.txt")}) {
        SafeOutput output;
        EXPECT_EQ(safe_output_open(output, inner, name, ".part").failure, Failure::name_refused) << name;
    }
    EXPECT_EQ(list_names(dir.root), std::vector<std::string>{"inner"});
    EXPECT_EQ(list_names(dir.path("inner")), std::vector<std::string>{});
}

#ifndef _WIN32
namespace {

std::string planted_first(const char*) {
    static int calls = 0;
    return calls++ == 0 ? "planted" : "fresh" + std::to_string(calls);
}

// A private file made at the final name in `g_late_folder` just after the
// look found none.
std::string g_late_folder;
void make_late_private_file(const std::string& name) {
    const int fd = open((g_late_folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) close(fd);
}

}  // namespace

// A named temporary is made only under a name nothing stands at: a file
// planted under the name the safe output picks is neither written nor moved
// to the final name. A new file gets the bits asked for, less the umask; one
// that came at its name after the look is judged, not renamed over.
TEST(SafeOutput, ANamedTemporaryIsAlwaysANewFile) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("planted"), "planted by another"));
    DirectoryHandle handle;
    ASSERT_TRUE(open_directory(handle, dir.root));
    safe_output_use_named_temporaries(true);
    temporary_name_hook = planted_first;
    const mode_t before = umask(027);
    const bool written = write_safely(handle, "out", "new");
    g_late_folder = dir.root;
    safe_output_replace_hook = make_late_private_file;
    const bool late_written = write_safely(handle, "late", "new");
    safe_output_replace_hook = nullptr;
    umask(before);
    temporary_name_hook = nullptr;
    safe_output_use_named_temporaries(false);
    EXPECT_TRUE(written);
    EXPECT_EQ(read_file(dir.path("planted")), "planted by another");
    EXPECT_EQ(read_file(dir.path("out")), "new");
    struct stat made;
    ASSERT_EQ(stat(dir.path("out").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0640u);
    EXPECT_TRUE(late_written);
    ASSERT_EQ(stat(dir.path("late").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0600u);
    EXPECT_EQ(list_names(dir.root), (std::vector<std::string>{"late", "out", "planted"}));
}
#endif

#ifdef _WIN32
// Wine keeps no DACL set on a file, so what is held here is what the safe
// output asks Windows for: a replaced file's own protection, owner
// included; a copy its source's DACL; any other new file nothing, which
// leaves it the folder's inherited protection.
TEST(SafeOutput, AsksWindowsForTheProtectionItCarries) {
    ScratchDir dir;
    ASSERT_TRUE(write_file(dir.path("old"), "old"));
    ASSERT_TRUE(write_file(dir.path("source"), "source"));
    DirectoryHandle handle;
    ASSERT_TRUE(open_directory(handle, dir.root));
    std::vector<unsigned char> of_old;
    {
        InputFile old;
        ASSERT_TRUE(open_input_file(old, dir.path("old")));
        ASSERT_TRUE(read_protection(old.handle, true, of_old));
    }
    InputFile source;
    ASSERT_TRUE(open_input_file(source, dir.path("source")));
    std::vector<unsigned char> of_source;
    ASSERT_TRUE(read_protection(source.handle, false, of_source));
    EXPECT_FALSE(of_source.empty());

    SafeOutput copy;
    ASSERT_TRUE(safe_output_open_copy(copy, handle, "_o_source", ".part", source));
    EXPECT_EQ(copy.state->protection, of_source);
    SafeOutput replacing;
    ASSERT_TRUE(safe_output_open(replacing, handle, "old", ".part"));
    EXPECT_EQ(replacing.state->protection, of_old);
    ASSERT_TRUE(safe_output_write(replacing, "new", 3));
    ASSERT_TRUE(safe_output_commit(replacing));
    EXPECT_EQ(read_file(dir.path("old")), "new");
    SafeOutput plain;
    ASSERT_TRUE(safe_output_open(plain, handle, "plain", ".part"));
    EXPECT_TRUE(plain.state->protection.empty());
}
#endif
