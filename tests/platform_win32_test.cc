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

// One whole file through the safe output; true when it stands complete.
bool write_safely(const DirectoryHandle& directory, const std::string& relative, const std::string& bytes) {
    SafeOutput output;
    return safe_output_open(output, directory, relative, "_o_") &&
           safe_output_write(output, bytes.data(), bytes.size()) &&
           safe_output_commit(output);
}

// Runs a host tool under Wine (Windows programs there can start Linux ones)
// with `option` and then `paths`, given as Windows paths and handed over as
// Linux paths. False when not under Wine, and in the 32-bit build: its
// Wine runs under qemu on a host without 32-bit support, where starting a
// host program now and then ended the test process itself, silently and
// with status 0. Wine gives a Linux program no handle to wait on, so the
// caller waits for what the tool does.
bool run_on_wine_host(const std::wstring& tool, const std::wstring& option, const std::vector<std::string>& paths) {
#ifndef _WIN64
    (void)tool;
    (void)option;
    (void)paths;
    return false;
#endif
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unix_name == nullptr) return false;
    std::wstring command = L"/bin/" + tool + L" " + option;
    for (const std::string& path : paths) {
        char* host = unix_name(wide_of(path).c_str());
        if (host == nullptr) return false;
        command += L" \"" + wide_of(host) + L"\"";
        HeapFree(GetProcessHeap(), 0, host);
    }
    const std::wstring program = L"Z:\\bin\\" + tool;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process) == 0)
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Waits up to five seconds for `done` to hold.
template <typename Check>
bool eventually(Check done) {
    for (int wait = 0; wait < 50 && !done(); ++wait) Sleep(100);
    return done();
}

// Whether Windows shows a reparse point (a link or junction) at `path`.
bool is_reparse_point(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(literal_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A junction at `link` to the directory `target`, as any user may make one
// on Windows.
bool make_junction(const std::string& link, const std::string& target) {
    if (!make_dir_wide(link)) return false;
    HANDLE directory = CreateFileW(literal_path(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const std::wstring substitute = L"\\??\\" + wide_of(target);
    const auto bytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    // REPARSE_DATA_BUFFER for a mount point: tag, data length, reserved,
    // then the substitute name's offset and length and an empty print name.
    std::vector<unsigned char> buffer(16 + bytes + 4, 0);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD fields[6] = {static_cast<WORD>(8 + bytes + 4), 0, 0, bytes, static_cast<WORD>(bytes + 2), 0};
    std::memcpy(buffer.data(), &tag, sizeof tag);
    std::memcpy(buffer.data() + 4, fields, sizeof fields);
    std::memcpy(buffer.data() + 16, substitute.data(), bytes);
    DWORD returned = 0;
    const bool made = directory != INVALID_HANDLE_VALUE &&
                      DeviceIoControl(directory, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                      static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr) != 0;
    if (directory != INVALID_HANDLE_VALUE) CloseHandle(directory);
    if (!made) RemoveDirectoryW(literal_path(link).c_str());
    return made;
}

// Removes a link made by make_link below, never what it leads to.
void remove_link(const std::string& link, bool directory) {
    if (run_on_wine_host(L"rm", L"-f", {link}) && eventually([&] { return !exists_wide(link); })) return;
    if (directory)
        RemoveDirectoryW(literal_path(link).c_str());
    else
        DeleteFileW(literal_path(link).c_str());
}

// A link at `link` to `target`: a junction (for a directory) or a symbolic
// link (for a file, where the user may make one) on Windows; under Wine,
// which makes neither, a Linux symbolic link, which Wine lists as a reparse
// point. False when none can be made.
bool make_link(const std::string& link, const std::string& target, bool directory) {
    if (directory && make_junction(link, target)) return true;
    if (!directory && CreateSymbolicLinkW(literal_path(link).c_str(), literal_path(target).c_str(),
                                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0 &&
        is_reparse_point(link))
        return true;
    // Wine shows a Linux link to a directory as a reparse point, but one to
    // a file as a plain file: that cannot stand for a link here.
    const bool made = run_on_wine_host(L"ln", L"-s", {target, link}) && eventually([&] { return exists_wide(link); });
    if (made && !is_reparse_point(link)) remove_link(link, directory);
    return made && exists_wide(link);
}

}  // namespace

// The copies' prefix and the pattern's extension match in any letter case,
// and a name the pattern matches only through its short name is no source.
TEST(Win32Scrambler, PrefixAndExtensionInAnyLetterCase) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("c.BMP"), "fresh"));
    ASSERT_TRUE(write_file(scratch.path("a.bmpx"), "not an asset"));
    ASSERT_TRUE(write_file(scratch.path("_O_C.BMP"), "stale copy of an earlier run"));
    ASSERT_TRUE(write_file(scratch.path("_O_old.bmp"), "never a source"));

    const DriverRun run = run_driver(run_scrambler, {scratch.root + "\\"}, "\n\n");
    EXPECT_EQ(run.output, "press enter to start...c.BMP ...done.\nsuccessful.\npress enter key.\n");
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

// A name Windows would refuse, turn into a device, or store as another name
// fails when the file is opened, before any byte is written, and leaves
// nothing behind.
TEST(Win32SafeOutput, NamesWindowsWouldNotStoreAsGivenFailAtOpen) {
    ScratchDir scratch;
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, scratch.root));
    for (const std::string name :
         {"a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a:b", "a\x01" "b", "con.bmp", "prn", "AUX .txt",
          "conin$", "COM\xC2\xB9", "lpt\xC2\xB3.txt", "COM0", "a.", "a ", "..", "\xFF.bin"}) {
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
// by path or within a directory; names that only begin like one are files.
TEST(Win32Input, ReservedDeviceNamesAreNeverOpened) {
    ScratchDir scratch;
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, scratch.root));
    InputFile input;
    for (const char* device : {"CON", "nul", "NUL.txt", "aux .bmp", "com1", "LPT9.tga", "conin$",
                               "COM\xC2\xB9.bmp", "lpt\xC2\xB2"}) {
        const std::string name = device;
        EXPECT_FALSE(open_input_file(input, name)) << name;
        EXPECT_FALSE(open_input_file(input, scratch.path(name))) << name;
        EXPECT_FALSE(open_input_file_at(input, directory, name, false)) << name;
        EXPECT_EQ(scramble_file(scratch.path(name), scratch.path("_o_copy")), -1) << name;
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

namespace {

// Set for the hook below: when the walk is about to open `g_swap_when`, the
// folder `g_swap_folder` is moved aside and a link to `g_outside` put in its
// place, as someone racing the walk could. Whether the move was allowed is
// noted in `g_swap_moved`.
std::string g_swap_when;
std::string g_swap_folder;
std::string g_outside;
bool g_swap_moved = false;

// The walk's hook: the swap described above, once, at the chosen folder.
void swap_folder_for_link(const std::string& name) {
    if (name != g_swap_when) return;
    g_swap_moved = MoveFileExW(literal_path(g_swap_folder).c_str(), literal_path(g_swap_folder + ".real").c_str(),
                               0) != 0;
    if (g_swap_moved) make_link(g_swap_folder, g_outside, true);
}

}  // namespace

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
        g_swap_when = c.swap_when;
        g_swap_folder = tree.path("b");
        g_outside = outside.root;
        g_swap_moved = false;
        set_walk_hook(swap_folder_for_link);
        CapturedConsole console("");
        DirectoryHandle top;
        WrittenFileSystems written;
        const bool all_done =
            open_directory(top, tree.dir.root) && walk_tree(top, "*.bmp", console.console, written);
        set_walk_hook(nullptr);
        if (g_swap_moved) remove_link(tree.path("b"), true);
        EXPECT_EQ(g_swap_moved, c.moved) << c.swap_when;
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
    const ProcessResult run = run_program(UNPACKER_PATH, {tree.path("data.pak")}, "\n");
    remove_link(tree.path("data"), true);
    EXPECT_EQ(run.output, "files: 1\n00000110 - 00000113: a.txt ...\nfile open error.\n" + kPress);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_TRUE(list_names(outside.root).empty());
}

#endif  // _WIN32
