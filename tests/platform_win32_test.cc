// The Win32 side of the platform layer against the real system calls, where
// Windows behaves differently from Linux: names compared without regard to
// case, drive paths, trailing dots and blanks, device names and names
// Windows refuses, the active code page at the edges, links met at the time
// of use, and a writer killed mid-file. All cases run again under code page
// 932 (their names begin with Win32).

#ifdef _WIN32

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/safe_output.h"
#include "common/test_hooks.h"
#include "common/wide_path-win32.h"
#include "pak_writer.h"
#include "scrambler/run_scrambler.h"
#include "scrambler/scramble_file.h"
#include "scrambler/walk_tree.h"
#include "test_support.h"
#include "unpacker/output_directory.h"
#include "wide_files_win32.h"

namespace {

// "ソ" in code page 932: its trail byte is 0x5C, the byte of '\'.
const std::string kSoBytes = "\x83\x5c";

}  // namespace

// The copies' prefix and the pattern's extension match in any letter case,
// and a name the pattern matches only through its short name is no source.
TEST(Win32Scrambler, PrefixAndExtensionInAnyLetterCase) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("c.BMP"), "fresh"));
    ASSERT_TRUE(write_file(scratch.path("a.bmpx"), "not an asset"));
    ASSERT_TRUE(write_file(scratch.path("_O_C.BMP"), "stale copy of an earlier run"));
    ASSERT_TRUE(write_file(scratch.path("_O_old.bmp"), "never a source"));

    const DriverRun run = run_scrambler_driver({scratch.root + "\\"});
    EXPECT_EQ(run.output, "press enter to start...c.BMP ...done.\nsuccessful.\n" + kPress);
    // The copy replaced the old one, which differs only in letter case.
    EXPECT_EQ(read_file(scratch.path("_o_c.BMP")), scrambled("fresh"));
    EXPECT_EQ(list_names(scratch.root).size(), 4u);
}

// A path from the user means what it means to Windows, once, from the probe
// to the last write: "C:" is drive C's current folder, a trailing dot or
// blank is dropped, a separator at the end names a directory or nothing.
TEST(Win32Probe, PathsMeanWhatTheyMeanToWindows) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("sub")));
    ASSERT_TRUE(write_file(scratch.path("file.txt"), "x"));
    const std::string drive = scratch.root.substr(0, 2);
    ASSERT_EQ(drive[1], ':');
    CurrentDirectoryGuard guard;
    ASSERT_NE(SetCurrentDirectoryW(wide_of(scratch.root).c_str()), 0);
    const std::pair<std::string, PathKind> cases[] = {
        {scratch.path("sub"), PathKind::directory},     {scratch.path("sub") + "\\", PathKind::directory},
        {scratch.root + "/sub/", PathKind::directory},  {scratch.path("sub "), PathKind::directory},
        {scratch.path("sub."), PathKind::directory},    {scratch.path("file.txt"), PathKind::other},
        {scratch.path("file.txt. "), PathKind::other},  {scratch.path("file.txt\\"), PathKind::missing},
        {scratch.path("missing"), PathKind::missing},   {scratch.path("s*"), PathKind::missing},
        {drive + "\\", PathKind::directory},            {drive + "sub", PathKind::directory},
        {drive + "file.txt", PathKind::other},          {drive + "missing", PathKind::missing},
        {drive, PathKind::directory},                   {"nul", PathKind::missing},
        {"\\\\.\\pipe\\x", PathKind::missing},
    };
    for (const auto& [path, kind] : cases) EXPECT_EQ(probe_path(path), kind) << path;

    // The drive alone is its current folder, not its root.
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, drive));
    DirListing entries;
    ASSERT_TRUE(list_directory(directory, entries));
    EXPECT_EQ(names_of(entries), (std::vector<std::string>{"file.txt", "sub"}));
    // A bare name's folder is the empty path: the current folder.
    EXPECT_EQ(scramble_file("file.txt", "_o_file.txt"), 0);
    EXPECT_EQ(read_file(scratch.path("_o_file.txt")), scrambled("x"));
}

// A file below the handle's directory replaces the one there; a missing
// folder or a directory at the name fails and changes nothing.
TEST(Win32SafeOutput, CommitReplacesAnExistingFileOrLeavesItWhole) {
    ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("sub")));
    ASSERT_TRUE(make_dir(scratch.path("sub\\inner")));
    ASSERT_TRUE(write_file(scratch.path("sub\\inner\\out.bin"), "old contents, longer"));
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, scratch.root));
    // Either separator, mixed, inside the relative name.
    ASSERT_TRUE(write_safely(directory, "sub/inner\\out.bin", "new"));
    EXPECT_EQ(read_file(scratch.path("sub\\inner\\out.bin")), "new");
    EXPECT_EQ(list_names(scratch.path("sub\\inner")), (std::vector<std::string>{"out.bin"}));
    EXPECT_FALSE(write_safely(directory, "missing\\out.bin", "x"));
    EXPECT_FALSE(write_safely(directory, "sub", "x"));  // a directory stands there
}

// What Windows keeps in place of permission bits: a read-only file is not
// replaced, a hidden one stays hidden.
TEST(Win32SafeOutput, ReadOnlyFilesStayAndHiddenOnesStayHidden) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("locked"), "keep"));
    ASSERT_TRUE(write_file(scratch.path("hidden"), "old"));
    ASSERT_NE(SetFileAttributesW(literal_path(scratch.path("locked")).c_str(), FILE_ATTRIBUTE_READONLY), 0);
    ASSERT_NE(SetFileAttributesW(literal_path(scratch.path("hidden")).c_str(), FILE_ATTRIBUTE_HIDDEN), 0);
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, scratch.root));
    EXPECT_FALSE(write_safely(directory, "locked", "new"));
    EXPECT_EQ(read_file(scratch.path("locked")), "keep");
    ASSERT_TRUE(write_safely(directory, "hidden", "new"));
    EXPECT_EQ(read_file(scratch.path("hidden")), "new");
    EXPECT_NE(GetFileAttributesW(literal_path(scratch.path("hidden")).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    SetFileAttributesW(literal_path(scratch.path("locked")).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"hidden", "locked"}));
}

// A name Windows would refuse, turn into a device, or store as another name,
// and one that is absolute or has a "." or ".." component, fails when the
// file is opened, before any byte is written, and leaves nothing behind.
TEST(Win32SafeOutput, NamesWindowsWouldNotStoreAsGivenFailAtOpen) {
    ScratchDir scratch;
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, scratch.root));
    for (const std::string name :
         {"a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a:b", "a\x01" "b", "con.bmp", "prn", "AUX .txt",
          "conin$", "COM\xC2\xB9", "lpt\xC2\xB3.txt", "COM0", "a.", "a ", "..", "\xFF.bin", ".", "./a",
          "sub\\.\\a", "sub/../a", "..\\a", "\\a", "/a", "C:\\a", "C:a", "\\\\server\\share\\a", "sub:s\\a"}) {
        SafeOutput output;
        const Status opened = safe_output_open(output, directory, name, "_o_");
        EXPECT_EQ(opened.failure, Failure::name_refused) << name;
        EXPECT_NE(opened.code, 0) << name;
    }
    EXPECT_TRUE(list_names(scratch.root).empty());
}

// A link refused for one file's own reason (the file at its name is open in
// another program) fails that file alone, which stays as it was; the later
// files on the volume still take their names as links, their temporaries
// marked for deletion from creation, so a kill can leave none of them.
TEST(Win32SafeOutput, AFileHeldOpenFailsAloneAndLaterFilesStayMarked) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("held.bin"), "old"));
    HANDLE held = CreateFileW(literal_path(scratch.path("held.bin")).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, scratch.root));
    const bool replaced = write_safely(directory, "held.bin", "new");
    CloseHandle(held);
    EXPECT_FALSE(replaced);
    EXPECT_EQ(read_file(scratch.path("held.bin")), "old");
    EXPECT_FALSE(safe_output_marks_after_creation(directory));
    EXPECT_TRUE(write_safely(directory, "later.bin", "new"));
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"held.bin", "later.bin"}));
}

// Run only as the child of the next test: writes part of a file in the
// folder that ASSETTOOLS_KILL_DIR names, says so by creating "ready", then
// waits to be killed.
TEST(Win32SafeOutputChild, DISABLED_WritesThenWaitsToBeKilled) {
    const char* folder = std::getenv("ASSETTOOLS_KILL_DIR");
    if (folder == nullptr) GTEST_SKIP() << "run by Win32SafeOutput.AKilledWriterLeavesNoTemporary";
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, folder));
    SafeOutput output;
    ASSERT_TRUE(safe_output_open(output, directory, "out.bin", "_o_"));
    ASSERT_TRUE(safe_output_write(output, "partial", 7));
    ASSERT_TRUE(write_file(std::string(folder) + "\\ready", ""));
    Sleep(120000);
}

// The temporary is marked delete-on-close from its creation: a writer ended
// by TerminateProcess, which runs no code of the program, leaves nothing
// but the file that stood there before.
TEST(Win32SafeOutput, AKilledWriterLeavesNoTemporary) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("out.bin"), "old"));
    ASSERT_NE(SetEnvironmentVariableW(L"ASSETTOOLS_KILL_DIR", wide_of(scratch.root).c_str()), 0);
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring command = L"\"" + std::wstring(self) +
                           L"\" --gtest_filter=Win32SafeOutputChild.* --gtest_also_run_disabled_tests";
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE quiet = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = quiet;
    PROCESS_INFORMATION child{};
    ASSERT_NE(CreateProcessW(self, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child), 0);
    SetEnvironmentVariableW(L"ASSETTOOLS_KILL_DIR", nullptr);
    for (int wait = 0; wait < 600 && !file_exists(scratch.path("ready")); ++wait) Sleep(100);
    const std::vector<std::string> while_writing = temporaries(list_names(scratch.root));
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(quiet);

    ASSERT_TRUE(file_exists(scratch.path("ready"))) << "the child never got to write";
    EXPECT_EQ(while_writing.size(), 1u) << "the temporary is there while the child writes";
    for (int wait = 0; wait < 50 && list_names(scratch.root).size() > 2; ++wait) Sleep(100);
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"out.bin", "ready"}));
    EXPECT_EQ(read_file(scratch.path("out.bin")), "old");
}

// Device names, superscript ports included, are never opened for reading,
// by path or within a directory, not even where a file of that very name
// stands (a \\?\ path can make one); names that only begin like one are
// files.
TEST(Win32Input, ReservedDeviceNamesAreNeverOpened) {
    WideScratch wide;
    const ScratchDir& scratch = wide.dir;
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, scratch.root));
    InputFile input;
    for (const char* device : {"CON", "nul", "NUL.txt", "aux .bmp", "com1", "LPT9.tga", "conin$",
                               "COM\xC2\xB9.bmp", "lpt\xC2\xB2"}) {
        // wide.path, as ScratchDir::path would read the name's UTF-8 in the
        // code page.
        const std::string name = device;
        ASSERT_TRUE(write_file_wide(wide.path(name), "a file, not the device")) << name;
        EXPECT_FALSE(open_input_file(input, name)) << name;
        EXPECT_FALSE(open_input_file(input, wide.path(name))) << name;
        EXPECT_FALSE(open_input_file_at(input, directory, name, false)) << name;
        EXPECT_EQ(scramble_file(wide.path(name), scratch.path("_o_copy")), -1) << name;
    }
    // Names that only begin like a device are ordinary files.
    for (const char* name : {"console.bmp", "com.txt", "nul_.tga", "lpt.bmp", "COM10"}) {
        ASSERT_TRUE(write_file(scratch.path(name), "ok")) << name;
        EXPECT_TRUE(open_input_file(input, scratch.path(name))) << name;
        EXPECT_TRUE(open_input_file_at(input, directory, name, false)) << name;
    }
    // A directory is not an input file either.
    EXPECT_FALSE(open_input_file(input, scratch.root));
    // Nor is a volume or a device by its own path ("\\.\C:" reads drive C's
    // raw volume); the same file by its path below a drive is one.
    const std::string file = scratch.path("com.txt");
    const std::string drive = scratch.root.substr(0, 2);
    for (const std::string& path :
         {"\\\\.\\" + drive, "\\\\?\\" + drive, "\\\\?\\" + drive + "com.txt", std::string("\\\\.\\PhysicalDrive0"),
          "\\\\?\\GLOBALROOT\\?" "?\\" + file, "\\\\.\\GLOBALROOT\\?" "?\\" + file, std::string("\\\\?\\pipe\\x"),
          std::string("\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\com.txt")}) {
        EXPECT_FALSE(open_input_file(input, path)) << path;
        std::wstring system;
        EXPECT_FALSE(system_path(path, system)) << path;
    }
    EXPECT_TRUE(open_input_file(input, "\\\\?\\" + file));
    EXPECT_TRUE(open_input_file(input, "\\\\.\\" + file));
}

// The program's text as UTF-16 is exactly what utf8_from_utf16 makes, and
// goes back to it: a lone surrogate passes in its three-byte form, but two
// halves of one pair, overlong forms, bytes of no UTF-8 and NUL are refused,
// so no name has a second spelling or is cut short.
TEST(Win32Path, Utf16FromUtf8TakesOnlyWhatUtf8FromUtf16Makes) {
    const std::pair<std::string, std::wstring> taken[] = {
        {"a\xC3\xA9", L"a\u00E9"}, {"\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
        {"\xED\xB8\x80\xED\xA0\xBD", L"\xDE00\xD83D"}, {"\xED\xA0\xBDx\xED\xB8\x80", L"\xD83Dx\xDE00"},
    };
    for (const auto& [text, expected] : taken) {
        std::wstring wide;
        EXPECT_TRUE(utf16_from_utf8(text, wide)) << text;
        EXPECT_EQ(wide, expected) << text;
        EXPECT_EQ(utf8_from_utf16(wide), text);
    }
    using namespace std::string_literals;
    for (const std::string& text : {"\xED\xA0\xBD\xED\xB8\x80"s, "\xC0\xAF"s, "\x9B"s, "a\0b"s}) {
        std::wstring wide;
        EXPECT_FALSE(utf16_from_utf8(text, wide)) << text;
    }
}

// Entry names are read in the active code page and must convert exactly:
// a double-byte character is taken whole, its trail byte never a '\'.
TEST(Win32CodePage, EntryNamesConvertExactlyOrNotAtAll) {
    struct Case {
        UINT code_page;
        std::string stored;
        bool converts;
        std::string path;
    };
    const Case cases[] = {
        {932, kSoBytes, true, utf8(u8"ソ")},
        {932, "\x95\x5c" "CON.txt", true, utf8(u8"表CON.txt")},
        {932, "a\x83", false, ""},  // a lead byte without its trail
        {932, "\xa5", true, utf8(u8"･")},
        {1252, kSoBytes, true, utf8(u8"ƒ\\")},
        {1252, "caf\xe9", true, utf8(u8"café")},
        {1252, "\xa5", true, utf8(u8"¥")},
    };
    bool any = false;
    for (const Case& c : cases) {
        if (c.code_page != GetACP()) continue;
        any = true;
        std::string path = "stale";
        EXPECT_EQ(archive_name_to_path(c.stored, path), c.converts) << c.stored;
        if (c.converts) {
            EXPECT_EQ(path, c.path) << c.stored;
        }
    }
    if (!any) GTEST_SKIP() << "no cases for code page " << GetACP();
}

// Names are printed in the active code page, byte for byte as an ANSI
// program printed them; a character it lacks is its default character,
// never a look-alike ("ａ" is not "a", "¥" is not '\' in code page 932).
TEST(Win32CodePage, NamesForTheConsoleNeverBecomeOtherNames) {
    const std::pair<std::string, std::string> cases_932[] = {
        {utf8(u8"ソ.txt"), kSoBytes + ".txt"}, {utf8(u8"ａ.bmp"), "\x82\x81.bmp"},
        {utf8(u8"..¥victim"), "..?victim"},   {utf8(u8"café"), "caf?"},
        {"plain.txt", "plain.txt"},
    };
    const std::pair<std::string, std::string> cases_1252[] = {
        {utf8(u8"ソ.txt"), "?.txt"},        {utf8(u8"ａ.bmp"), "?.bmp"},
        {utf8(u8"．．＼victim"), "???victim"}, {utf8(u8"café"), "caf\xe9"},
        {"plain.txt", "plain.txt"},
    };
    if (GetACP() == 932) {
        for (const auto& [name, shown] : cases_932) EXPECT_EQ(name_for_console(name), shown) << name;
    } else if (GetACP() == 1252) {
        for (const auto& [name, shown] : cases_1252) EXPECT_EQ(name_for_console(name), shown) << name;
    } else {
        GTEST_SKIP() << "no cases for code page " << GetACP();
    }
}

// The unpacker's folder as Windows will store it: drive and both
// separators kept, trailing dots and blanks of the base name dropped.
TEST(Win32OutputDirectory, DrivesMixedSeparatorsTrailingDotsAndBlanks) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\games\\data.pak", "C:\\games\\data"},
        {"C:/games\\sub/data.pak", "C:/games\\sub/data"},
        {"C:data.pak", "C:data"},
        {"C:\\my data .pak", "C:\\my data"},
        {"x. .pak", "x"},
        {utf8(u8"C:\\ソ.pak"), utf8(u8"C:\\ソ")},
        {utf8(u8"C:\\ソ\\data.pak"), utf8(u8"C:\\ソ\\data")},
    };
    for (const auto& [archive, directory] : cases)
        EXPECT_EQ(derive_output_directory(archive, names_lose_trailing_dots_and_spaces()), directory) << archive;
}

// A folder swapped for a link or junction while the walk runs is never
// entered; a folder the walk is inside cannot be moved at all, as it is
// held open without FILE_SHARE_DELETE. Nothing outside is read or written,
// and a run that passed a folder over does not end as if all was done. A
// file swapped for a link since it was listed is not read either.
TEST(Win32Links, NoLinkIsFollowedAtTheTimeOfUse) {
    struct Case {
        const char* swap_when;
        bool moved;
        const char* expected;
        bool all_done;
    };
    const Case cases[] = {{"b", true, "", false}, {"c", false, "c.bmp ...done.\n", true}};
    for (const Case& c : cases) {
        WideScratch tree;
        ScratchDir outside;
        ASSERT_TRUE(make_link_swap_scene(tree.dir.root, outside.root));
        if (!make_link(tree.path("probe"), outside.root, true)) GTEST_SKIP() << "no junctions or links here";
        remove_link(tree.path("probe"), true);
        link_swap = {c.swap_when, tree.path("b"), outside.root};
        set_walk_hook(swap_folder_for_link);
        CapturedConsole console("");
        DirectoryHandle top;
        WrittenFileSystems written;
        const bool all_done =
            open_directory(top, tree.dir.root) && walk_tree(top, "*.bmp", console.console, written);
        set_walk_hook(nullptr);
        if (link_swap.moved) remove_link(tree.path("b"), true);
        EXPECT_EQ(link_swap.moved, c.moved) << c.swap_when;
        EXPECT_EQ(console.output(), c.expected) << c.swap_when;
        EXPECT_EQ(all_done, c.all_done) << c.swap_when;
        EXPECT_EQ(list_names(outside.root), (std::vector<std::string>{"c", "o.bmp"})) << c.swap_when;
        EXPECT_EQ(list_names(outside.path("c")), std::vector<std::string>{"o.bmp"}) << c.swap_when;
    }

    WideScratch tree;
    ScratchDir outside;
    ASSERT_TRUE(write_file(outside.path("secret.txt"), "outside"));
    ASSERT_TRUE(write_file(tree.path("a.txt"), "inside"));
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, tree.dir.root));
    ASSERT_NE(DeleteFileW(literal_path(tree.path("a.txt")).c_str()), 0);
    if (!make_link(tree.path("a.txt"), outside.path("secret.txt"), false)) GTEST_SKIP() << "no file links here";
    InputFile input;
    EXPECT_FALSE(open_input_file_at(input, directory, "a.txt", false));
    remove_link(tree.path("a.txt"), false);
}

// The unpacker's output folder is named by the program, not the user: a
// junction or link standing at that name is refused, nothing is written
// where it leads, and the run ends with status 1.
TEST(Win32Links, AJunctionAtTheOutputFoldersNameIsRefused) {
    WideScratch tree;
    ScratchDir outside;
    ASSERT_TRUE(write_file_wide(tree.path("data.pak"), make_pak({{"a.txt", "data"}})));
    if (!make_link(tree.path("data"), outside.root, true)) GTEST_SKIP() << "no junctions or links here";
    const ProcessResult run = run_unpacker_program(tree.path("data.pak"));
    remove_link(tree.path("data"), true);
    EXPECT_EQ(run.output, "files: 1\n00000110 - 00000113: a.txt ...\nfile open error.\n" + kPress);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_TRUE(list_names(outside.root).empty());
}

#endif  // _WIN32
