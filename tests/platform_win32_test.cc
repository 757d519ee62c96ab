// The Win32 side of the platform layer against the real system calls, where
// Windows behaves differently from Linux: names compared without regard to
// case, 8.3 short names in searches, drive paths, device names, and the
// active code page's double-byte characters.

#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform.h"
#include "scrambler/run_scrambler.h"
#include "scrambler/scramble_file.h"
#include "scrambler/walk_tree.h"
#include "test_support.h"

#if __has_include("unpacker/output_directory.h")
#include "unpacker/output_directory.h"
#define HAVE_OUTPUT_DIRECTORY 1
#endif

namespace {

// "ソ" in code page 932: its trail byte is 0x5C, the byte of '\'.
const std::string kSo = "\x83\x5c";

bool japanese_code_page() { return GetACP() == 932; }

std::vector<std::string> listed_names(const std::string& directory, const std::string& pattern,
                                      bool* ok = nullptr) {
    std::vector<DirEntry> entries;
    const bool listed = list_directory(directory, pattern, entries);
    if (ok != nullptr) *ok = listed;
    std::vector<std::string> names;
    for (const DirEntry& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

// Restores the process's current directory when a test has moved it.
struct CurrentDirectoryGuard {
    CurrentDirectoryGuard() {
        char buffer[MAX_PATH];
        saved.assign(buffer, GetCurrentDirectoryA(MAX_PATH, buffer));
    }
    ~CurrentDirectoryGuard() { SetCurrentDirectoryA(saved.c_str()); }
    std::string saved;
};

}  // namespace

TEST(Win32Listing, KeepsOnlyNamesTheWildcardRuleMatches) {
    ScratchDir scratch;
    for (const char* name : {"a.bmp", "a.bmpx", "c.BMP", "_O_x.bmp", "notes.txt"})
        ASSERT_TRUE(write_file(scratch.path(name), "x"));
    ASSERT_TRUE(make_dir(scratch.path("d.bmp")));

    // a.bmpx also answers "*.bmp" through its short name A~1.BMP.
    bool ok = false;
    EXPECT_EQ(listed_names(scratch.root, "*.bmp", &ok),
              (std::vector<std::string>{"_O_x.bmp", "a.bmp", "c.BMP", "d.bmp"}));
    EXPECT_TRUE(ok);
    std::vector<DirEntry> entries;
    ASSERT_TRUE(list_directory(scratch.root + "\\", "D.BMP", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, EntryKind::directory);
    EXPECT_FALSE(entries[0].is_link);

    EXPECT_EQ(listed_names(scratch.root, "*.*").size(), 6u);  // no "." or ".."
    EXPECT_TRUE(listed_names(scratch.root, "*.tga", &ok).empty());
    EXPECT_TRUE(ok);
    listed_names(scratch.path("missing"), "*.*", &ok);
    EXPECT_FALSE(ok);
}

TEST(Win32Scrambler, PrefixAndExtensionInAnyLetterCase) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("c.BMP"), "fresh"));
    ASSERT_TRUE(write_file(scratch.path("_O_C.BMP"), "stale copy of an earlier run"));
    ASSERT_TRUE(write_file(scratch.path("_O_old.bmp"), "never a source"));

    CapturedConsole captured("\n\n");
    EXPECT_EQ(call_driver(run_scrambler, captured.console, {scratch.root + "\\"}), 0);
    EXPECT_EQ(captured.output(),
              "press enter to start...c.BMP ...done.\nsuccessful.\npress enter key.\n");
    // The copy replaced the old one, which differs only in letter case.
    EXPECT_EQ(read_file(scratch.path("_o_c.BMP")), scrambled("fresh"));
    EXPECT_EQ(list_names(scratch.root).size(), 3u);
}

TEST(Win32Probe, TrailingSeparatorDriveRootAndDriveRelativePaths) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("sub")));
    ASSERT_TRUE(write_file(scratch.path("file.txt"), "x"));

    EXPECT_EQ(probe_path(scratch.path("sub")), PathKind::directory);
    EXPECT_EQ(probe_path(scratch.path("sub") + "\\"), PathKind::directory);
    EXPECT_EQ(probe_path(scratch.root + "/sub/"), PathKind::directory);
    EXPECT_EQ(probe_path(scratch.path("file.txt")), PathKind::other);
    EXPECT_EQ(probe_path(scratch.path("missing")), PathKind::missing);
    // Taken literally, not as a search.
    EXPECT_EQ(probe_path(scratch.path("s*")), PathKind::missing);

    const std::string drive = scratch.root.substr(0, 2);
    ASSERT_EQ(drive[1], ':');
    EXPECT_EQ(probe_path(drive + "\\"), PathKind::directory);
    {
        CurrentDirectoryGuard guard;
        ASSERT_NE(SetCurrentDirectoryA(scratch.root.c_str()), 0);
        EXPECT_EQ(probe_path(drive + "sub"), PathKind::directory);
        EXPECT_EQ(probe_path(drive + "file.txt"), PathKind::other);
        EXPECT_EQ(probe_path(drive + "missing"), PathKind::missing);
    }
}

TEST(Win32SafeOutput, CommitReplacesAnExistingFileOrLeavesItWhole) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("sub")));
    ASSERT_TRUE(make_dir(scratch.path("sub\\inner")));
    ASSERT_TRUE(write_file(scratch.path("sub\\inner\\out.bin"), "old contents, longer"));

    {
        SafeOutput output;
        // Either separator, mixed, inside the relative name.
        ASSERT_TRUE(safe_output_open(output, scratch.root, "sub/inner\\out.bin", "_o_"));
        ASSERT_TRUE(safe_output_write(output, "new", 3));
        ASSERT_TRUE(safe_output_commit(output));
    }
    EXPECT_EQ(read_file(scratch.path("sub\\inner\\out.bin")), "new");
    EXPECT_EQ(list_names(scratch.path("sub\\inner")), (std::vector<std::string>{"out.bin"}));

    SafeOutput output;
    EXPECT_FALSE(safe_output_open(output, scratch.root, "missing\\out.bin", "_o_"));
    EXPECT_FALSE(safe_output_open(output, scratch.root, "sub", "_o_"));  // a directory stands there
}

TEST(Win32Input, ReservedDeviceNamesAreNeverOpened) {
    ScratchDir scratch;
    InputFile input;
    for (const std::string& name : {std::string("CON"), std::string("nul"),
                                    scratch.path("NUL.txt"), scratch.path("aux .bmp"),
                                    scratch.path("com1"), scratch.path("LPT9.tga"),
                                    scratch.path("conin$")}) {
        EXPECT_FALSE(open_input_file(input, name)) << name;
        EXPECT_EQ(scramble_file(name, scratch.path("_o_copy")), -1) << name;
    }
    SafeOutput output;
    EXPECT_FALSE(safe_output_open(output, scratch.root, "con.bmp", "_o_"));
    EXPECT_FALSE(safe_output_open(output, scratch.root, "prn", "_o_"));

    // Names that only begin like a device are ordinary files.
    for (const char* name : {"console.bmp", "com.txt", "nul_.tga", "lpt.bmp"}) {
        ASSERT_TRUE(write_file(scratch.path(name), "ok")) << name;
        EXPECT_TRUE(open_input_file(input, scratch.path(name))) << name;
    }
    // A directory is not an input file either.
    EXPECT_FALSE(open_input_file(input, scratch.root));
}

TEST(Win32DoubleByte, LeadBytesFollowTheActiveCodePage) {
    if (japanese_code_page()) {
        EXPECT_TRUE(is_lead_byte(0x81));
        EXPECT_TRUE(is_lead_byte(0x83));
        EXPECT_FALSE(is_lead_byte('A'));
        EXPECT_FALSE(is_lead_byte(0xA1));  // a single-byte katakana
    } else {
        EXPECT_FALSE(is_lead_byte(0x81));
        EXPECT_FALSE(is_lead_byte(0x83));
    }
}

// Names whose trail byte is 0x5C must never be cut there as if at a '\'.
TEST(Win32DoubleByte, TrailByteThatLooksLikeASeparator) {
    if (!japanese_code_page()) GTEST_SKIP() << "needs code page 932 (LC_ALL=ja_JP.SJIS under Wine)";
    ScratchDir scratch;
    // Built by hand: the test helpers' std::filesystem paths take narrow
    // names as UTF-8 on Windows, not in the active code page.
    const std::string directory = scratch.root + "\\" + kSo;
    ASSERT_TRUE(create_directory(directory));
    ASSERT_TRUE(write_file(directory + "\\" + kSo + ".txt", "text"));
    ASSERT_TRUE(write_file(directory + "\\a.txt", "a"));

    CapturedConsole captured("\n\n");
    EXPECT_EQ(call_driver(run_scrambler, captured.console, {directory + "\\"}), 0);
    // The listing's order is the file system's.
    const std::string transcript = captured.output();
    EXPECT_NE(transcript.find(kSo + ".txt ...done.\n"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("a.txt ...done.\n"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.size(), ("press enter to start..." + kSo +
                                  ".txt ...done.\na.txt ...done.\nsuccessful.\npress enter key.\n")
                                     .size());
    EXPECT_EQ(read_file(directory + "\\_o_" + kSo + ".txt"), scrambled("text"));
    EXPECT_EQ(read_file(directory + "\\_o_a.txt"), scrambled("a"));
    EXPECT_EQ(listed_names(directory, "*.*").size(), 4u);

    // A written file inside the double-byte directory, named relative to it.
    SafeOutput output;
    ASSERT_TRUE(safe_output_open(output, scratch.root, kSo + "\\" + kSo, "_o_"));
    ASSERT_TRUE(safe_output_commit(output));
    EXPECT_EQ(probe_path(directory + "\\" + kSo), PathKind::other);
}

#ifdef HAVE_OUTPUT_DIRECTORY
TEST(Win32OutputDirectory, DrivesMixedSeparatorsAndDoubleByteNames) {
    EXPECT_EQ(derive_output_directory("C:\\games\\data.pak", is_lead_byte), "C:\\games\\data");
    EXPECT_EQ(derive_output_directory("C:/games\\sub/data.pak", is_lead_byte), "C:/games\\sub/data");
    EXPECT_EQ(derive_output_directory("C:data.pak", is_lead_byte), "C:data");
    if (japanese_code_page()) {
        EXPECT_EQ(derive_output_directory("C:\\" + kSo + ".pak", is_lead_byte), "C:\\" + kSo);
        EXPECT_EQ(derive_output_directory("C:\\" + kSo + "\\data.pak", is_lead_byte),
                  "C:\\" + kSo + "\\data");
    }
}
#endif

#endif  // _WIN32
