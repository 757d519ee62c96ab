// The real Windows programs against names a Windows user can make in
// Explorer and that the code page cannot hold, or that Windows would read
// as another name: look-alike characters that best fit turns into '.', '\'
// or a plain letter, a double-byte trail byte of 0x5C, trailing dots and
// blanks, 8.3 short names, folders past 260 characters, a drive alone, and
// characters Windows refuses. Each name must mean itself from the command
// line to the last write, and nothing outside the given tree is touched.
// The cases run under the plain pass and again under code page 932.

#ifdef _WIN32

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/platform.h"
#include "common/safe_output.h"
#include "pak_writer.h"
#include "test_support.h"
#include "wide_files_win32.h"

namespace {

// The scrambler's whole transcript when each of `names` was done, in order,
// each shown as the console shows it.
std::string scrambled_transcript(const std::vector<std::string>& names) {
    std::string transcript = "press enter to start...";
    for (const std::string& name : names) transcript += name_for_console(name) + " ...done.\n";
    return transcript + "successful.\n" + kPress;
}

const std::string kSoBytes = "\x83\x5c";  // "ソ" in code page 932

}  // namespace

// Fault 1: full-width "．．＼" is best-fit "..\" and "¥" is '\' in code page
// 932; such folders are walked as themselves, once each, and nothing is
// written beside the tree.
TEST(Win32Names, LookAlikeFoldersAreWalkedAsThemselves) {
    WideScratch scratch;
    const std::string tree = scratch.path("t");
    const std::string folders[] = {utf8(u8"..¥victim"), utf8(u8"．．＼"), utf8(u8"．．＼ｖｉｃｔｉｍ")};
    const char* files[] = {"y.txt", "x.txt", "secret.txt"};
    ASSERT_TRUE(make_dir_wide(tree));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(make_dir_wide(tree + "\\" + folders[i]));
        ASSERT_TRUE(write_file_wide(tree + "\\" + folders[i] + "\\" + files[i], files[i]));
    }
    const ProcessResult run = run_scrambler_program(tree);
    EXPECT_EQ(run.output, scrambled_transcript({"y.txt", "x.txt", "secret.txt"}));
    EXPECT_EQ(run.exit_status, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(read_file_wide(tree + "\\" + folders[i] + "\\_o_" + files[i]), scrambled(files[i])) << files[i];
    EXPECT_EQ(list_names_wide(scratch.dir.root), std::vector<std::string>{"t"});
    EXPECT_EQ(list_names_wide(tree).size(), 3u);
}

// Fault 2: "ａ.bmp" is best-fit "a.bmp", and "．．" is "..".
TEST(Win32Names, LookAlikeFilesAreCopiedFromThemselves) {
    WideScratch scratch;
    const std::string wide_a = utf8(u8"ａ.bmp");
    const std::string dots = scratch.path(utf8(u8"．．"));
    ASSERT_TRUE(write_file_wide(scratch.path("a.bmp"), "plain"));
    ASSERT_TRUE(write_file_wide(scratch.path(wide_a), "wide"));
    ASSERT_TRUE(make_dir_wide(dots));
    ASSERT_TRUE(write_file_wide(dots + "\\x.bmp", "dots"));
    const ProcessResult run = run_scrambler_program(scratch.dir.root);
    EXPECT_EQ(run.output, scrambled_transcript({"a.bmp", wide_a, "x.bmp"}));
    EXPECT_EQ(read_file_wide(scratch.path("_o_a.bmp")), scrambled("plain"));
    EXPECT_EQ(read_file_wide(scratch.path("_o_" + wide_a)), scrambled("wide"));
    EXPECT_EQ(read_file_wide(dots + "\\_o_x.bmp"), scrambled("dots"));
}

// Fault 3: the argument is read from the UTF-16 command line, so "ｃ.pak"
// is not "c.pak".
TEST(Win32Names, LookAlikeArchiveIsTheOneUnpacked) {
    WideScratch scratch;
    ASSERT_TRUE(write_file_wide(scratch.path("c.pak"), make_pak({{"plain.txt", "PLAIN"}})));
    ASSERT_TRUE(write_file_wide(scratch.path(utf8(u8"ｃ.pak")), make_pak({{"wide.txt", "WIDE"}})));
    const ProcessResult run = run_unpacker_program(scratch.path(utf8(u8"ｃ.pak")));
    EXPECT_EQ(run.output, "files: 1\n00000110 - 00000113: wide.txt ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(list_names_wide(scratch.path(utf8(u8"ｃ"))), std::vector<std::string>{"wide.txt"});
    EXPECT_FALSE(exists_wide(scratch.path("c")));
}

// Fault 4, code page 932: "ソ" is 83 5C there. A folder named with it is
// that folder, not its parent plus a name beginning with 0x83; entry names
// holding it convert whole, so the name rules see the real name.
TEST(Win32Names, DoubleByteTrailByteIsNoSeparator) {
    if (GetACP() != 932) GTEST_SKIP() << "needs code page 932 (LC_ALL=ja_JP.SJIS under Wine)";
    WideScratch scratch;
    const std::string wj = scratch.path("wj");
    const std::string so = wj + "\\" + utf8(u8"ソ");
    ASSERT_TRUE(make_dir_wide(wj));
    ASSERT_TRUE(make_dir_wide(so));
    ASSERT_TRUE(make_dir_wide(so + "\\sub"));
    ASSERT_TRUE(write_file_wide(so + "\\a.txt", "AAAA"));
    ASSERT_TRUE(write_file_wide(so + "\\sub\\b.txt", "BBBB"));
    ASSERT_TRUE(write_file_wide(wj + "\\" + utf8(u8"ソa.txt"), "SIBLING"));
    ASSERT_TRUE(write_file_wide(so + "\\" + utf8(u8"ソ.txt"), "text"));
    const ProcessResult run = run_scrambler_program(so);
    // The name is shown in the code page's own bytes, trail byte and all.
    EXPECT_EQ(run.output, "press enter to start...a.txt ...done.\n" + kSoBytes +
                              ".txt ...done.\nb.txt ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(read_file_wide(so + "\\_o_a.txt"), "\x1b\x82\x5f\xd7");
    EXPECT_EQ(read_file_wide(so + "\\" + utf8(u8"_o_ソ.txt")), scrambled("text"));
    EXPECT_EQ(read_file_wide(so + "\\sub\\_o_b.txt"), scrambled("BBBB"));
    EXPECT_EQ(list_names_wide(wj), (std::vector<std::string>{utf8(u8"ソ"), utf8(u8"ソa.txt")}));
    // A file written inside it, named relative to its parent.
    DirectoryHandle top;
    SafeOutput output;
    ASSERT_TRUE(open_directory(top, wj));
    ASSERT_TRUE(safe_output_open(output, top, utf8(u8"ソ\\ソ"), "_o_"));
    ASSERT_TRUE(safe_output_commit(output));
    EXPECT_EQ(read_file_wide(so + "\\" + utf8(u8"ソ")), "");

    struct Case {
        std::vector<PakItem> items;
        std::string ending;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {{{"a.txt", "a"}, {kSoBytes, "so"}, {"b.txt", "b"}}, "successful.\n",
         {"a.txt", "b.txt", utf8(u8"ソ")}},
        {{{"\x95\x5c" "CON.txt", "table"}}, "successful.\n", {utf8(u8"表CON.txt")}},
        // Ends in dots: refused on every platform, now for that reason alone.
        {{{kSoBytes + "..", "x"}}, "unsafe file name in entry 1\n", {}},
    };
    for (const Case& c : cases) {
        ScratchDir archive;
        ASSERT_TRUE(write_file(archive.path("a.pak"), make_pak(c.items)));
        const ProcessResult unpacked = run_unpacker_program(archive.path("a.pak"));
        EXPECT_NE(unpacked.output.find(c.ending + kPress), std::string::npos) << unpacked.output;
        EXPECT_EQ(list_names_wide(archive.path("a")), c.written) << unpacked.output;
    }
}

// Code page 932's NEC and IBM codes are characters like any other; where
// two codes give one character (EE E0 and FB FC are both "髙"), the two
// entries have one name and the later one is what stays.
TEST(Win32Names, NecAndIbmCodesAreCharacters) {
    if (GetACP() != 932) GTEST_SKIP() << "needs code page 932 (LC_ALL=ja_JP.SJIS under Wine)";
    ScratchDir archive;
    ASSERT_TRUE(write_file(archive.path("a.pak"), make_pak({{"\xEE\xE0", "NEC"}, {"\xFA\x4A", "1"}, {"\x87\x9A", "2"},
                                                             {"\xEE\xF9", "3"}, {"\xFB\xFC", "IBM"}})));
    const ProcessResult run = run_unpacker_program(archive.path("a.pak"));
    EXPECT_NE(run.output.find("successful.\n" + kPress), std::string::npos) << run.output;
    EXPECT_EQ(list_names_wide(archive.path("a")),
              (std::vector<std::string>{utf8(u8"Ⅰ"), utf8(u8"∵"), utf8(u8"髙"), utf8(u8"￢")}));
    EXPECT_EQ(read_file_wide(archive.path("a\\") + utf8(u8"髙")), "IBM");
}

// Fault 5: "sub." is its own folder, and a path typed with a trailing dot
// or blank means one thing from the probe to the last write; the unpacker's
// folder is named as Windows stores it.
TEST(Win32Names, TrailingDotsAndBlanks) {
    WideScratch scratch;
    const std::string tree = scratch.path("t");
    ASSERT_TRUE(make_dir_wide(tree));
    ASSERT_TRUE(make_dir_wide(tree + "\\sub."));
    ASSERT_TRUE(make_dir_wide(tree + "\\sub"));
    ASSERT_TRUE(write_file_wide(tree + "\\sub.\\x.txt", "dotted"));
    ASSERT_TRUE(write_file_wide(tree + "\\sub\\y.txt", "plain"));
    ProcessResult run = run_scrambler_program(tree + " ");
    EXPECT_EQ(run.output, scrambled_transcript({"y.txt", "x.txt"}));
    EXPECT_EQ(read_file_wide(tree + "\\sub.\\_o_x.txt"), scrambled("dotted"));
    EXPECT_EQ(read_file_wide(tree + "\\sub\\_o_y.txt"), scrambled("plain"));

    const std::string archive = make_pak({{"one.txt", "1"}, {"two.txt", "2"}});
    for (const auto& [name, folder] : {std::pair{"my data .pak", "my data"}, std::pair{"x. .pak", "x"}}) {
        ASSERT_TRUE(write_file_wide(scratch.path(name), archive));
        run = run_unpacker_program(scratch.path(name));
        EXPECT_EQ(run.exit_status, 0) << name << "\n" << run.output;
        EXPECT_EQ(list_names_wide(scratch.path(folder)), (std::vector<std::string>{"one.txt", "two.txt"})) << name;
    }
    // "b.pak." opens "b.pak": its folder is "b", not the archive itself.
    ASSERT_TRUE(write_file_wide(scratch.path("b.pak"), archive));
    run = run_unpacker_program(scratch.path("b.pak."));
    EXPECT_EQ(run.exit_status, 0) << run.output;
    EXPECT_EQ(list_names_wide(scratch.path("b")), (std::vector<std::string>{"one.txt", "two.txt"}));
}

// Fault 6: names that Windows would take for an earlier entry's file. A
// trailing dot or blank is refused before anything is made; an 8.3 short
// name of a file already written fails to open rather than replace it.
TEST(Win32Names, EntriesWindowsWouldTakeForAnEarlierOne) {
    WideScratch scratch;
    ASSERT_TRUE(write_file_wide(scratch.path("dots.pak"), make_pak({{"a", "1"}, {"a.", "2"}, {"a ", "3"}, {"a. .", "4"}})));
    ProcessResult run = run_unpacker_program(scratch.path("dots.pak"));
    EXPECT_EQ(run.output, "files: 4\nunsafe file name in entry 2\n" + kPress);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_FALSE(exists_wide(scratch.path("dots")));

    ASSERT_TRUE(make_dir_wide(scratch.path("probe")));
    ASSERT_TRUE(write_file_wide(scratch.path("probe\\longfilename.txt"), ""));
    wchar_t short_path[MAX_PATH];
    const DWORD length = GetShortPathNameW(literal_path(scratch.path("probe\\longfilename.txt")).c_str(),
                                           short_path, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::wstring short_form(short_path, length);
    const std::string short_name = utf8_of(short_form.substr(short_form.rfind(L'\\') + 1));
    if (short_name == "longfilename.txt") GTEST_SKIP() << "this volume makes no 8.3 names";
    ASSERT_TRUE(write_file_wide(scratch.path("alias.pak"),
                                make_pak({{"longfilename.txt", "first"}, {short_name, "second"}})));
    run = run_unpacker_program(scratch.path("alias.pak"));
    EXPECT_NE(run.output.find(short_name + " ...\nfile open error.\n" + kPress), std::string::npos)
        << run.output;
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(list_names_wide(scratch.path("alias")), std::vector<std::string>{"longfilename.txt"});
    EXPECT_EQ(read_file_wide(scratch.path("alias\\longfilename.txt")), "first");
}

// Fault 7: folders past 260 characters are walked like any other; where a
// limit is still met (here a copy's name past 255 characters), the file gets
// "error.", no temporary is left, and the run ends with status 1.
TEST(Win32Names, DeepFoldersAndALimitStillMet) {
    WideScratch scratch;
    std::string deep = scratch.dir.root;
    for (int level = 0; level < 12; ++level) {
        deep += "\\" + std::string(40, static_cast<char>('a' + level));
        ASSERT_TRUE(make_dir_wide(deep)) << level;
    }
    ASSERT_GT(deep.size(), 500u);
    const std::string longest(251, 'n');
    ASSERT_TRUE(write_file_wide(deep + "\\deep.txt", "deep"));
    ASSERT_TRUE(write_file_wide(deep + "\\" + longest + ".txt", "long"));
    const ProcessResult run = run_scrambler_program(scratch.dir.root);
    EXPECT_EQ(run.output, "press enter to start...deep.txt ...done.\n" + longest +
                              ".txt ...error.\nsuccessful.\n" + kPress);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(read_file_wide(deep + "\\_o_deep.txt"), scrambled("deep"));
    EXPECT_EQ(list_names_wide(deep), (std::vector<std::string>{"_o_deep.txt", "deep.txt", longest + ".txt"}));
}

// Fault 8: "C:" is drive C's current folder, never its root.
TEST(Win32Names, ADriveAloneIsItsCurrentFolder) {
    WideScratch scratch;
    ASSERT_TRUE(write_file_wide(scratch.path("a.txt"), "here"));
    const std::string drive = scratch.dir.root.substr(0, 2);
    CurrentDirectoryGuard guard;
    ASSERT_NE(SetCurrentDirectoryW(wide_of(scratch.dir.root).c_str()), 0);
    // Checked first, so that a fault here cannot walk a whole drive below.
    DirectoryHandle directory;
    DirListing entries;
    ASSERT_TRUE(open_directory(directory, drive) && list_directory(directory, entries));
    ASSERT_EQ(names_of(entries), std::vector<std::string>{"a.txt"});
    const ProcessResult run = run_scrambler_program(drive);
    EXPECT_EQ(run.output, scrambled_transcript({"a.txt"}));
    EXPECT_EQ(read_file_wide(scratch.path("_o_a.txt")), scrambled("here"));
}

// Fault 9: a name Windows refuses is judged with the other unsafe names,
// before anything is written, wherever it stands in the archive and in
// whichever folder of the name. So is a byte that code page 1252 reads as a
// C1 control, which a console would obey.
TEST(Win32Names, NamesWindowsRefusesWriteNothing) {
    ScratchDir scratch;
    std::vector<std::string> names{"a<b", "sub\\a|b", "a?b", "a*b", "a\"b/c", "a>b"};
    if (GetACP() == 1252) names.emplace_back("a\x9D.txt");
    for (const std::string& refused : names) {
        ASSERT_TRUE(write_file(scratch.path("r.pak"), make_pak({{"ok.txt", "ok"}, {refused, "x"}})));
        const ProcessResult run = run_unpacker_program(scratch.path("r.pak"));
        EXPECT_EQ(run.output, "files: 2\nunsafe file name in entry 2\n" + kPress) << refused;
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(list_names(scratch.root), std::vector<std::string>{"r.pak"}) << refused;
    }
}

// A 32-bit program on 64-bit Windows (a win64 prefix under Wine) given a
// path into System32 works there, not in SysWOW64, which WOW64 would put in
// its place: the scrambler copies the file the user named, the unpacker
// reads the archive named and writes beside it.
TEST(Win32Names, System32IsSystem32ForA32BitProgram) {
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) == 0 || wow64 == FALSE)
        GTEST_SKIP() << "needs the 32-bit build on 64-bit Windows (under Wine, a win64 prefix)";
    wchar_t windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::string folder = "assettools-" + std::to_string(GetCurrentProcessId());
    const std::string windows_path = utf8_of(std::wstring_view(windows, length));
    const std::string typed = windows_path + "\\System32\\" + folder;
    // The real System32 as a 32-bit program reaches it, and the one WOW64
    // would hand it instead.
    const std::string real = windows_path + "\\Sysnative\\" + folder;
    const std::string redirected = windows_path + "\\SysWOW64\\" + folder;
    if (!make_dir_wide(real)) GTEST_SKIP() << "System32 cannot be written here";
    ASSERT_TRUE(make_dir_wide(redirected));
    ASSERT_TRUE(write_file_wide(real + "\\a.bmp", "meant"));
    ASSERT_TRUE(write_file_wide(real + "\\p.pak", make_pak({{"in.txt", "unpacked"}})));
    ASSERT_TRUE(write_file_wide(redirected + "\\b.bmp", "not meant"));

    EXPECT_EQ(run_scrambler_program(typed).output, scrambled_transcript({"a.bmp"}));
    EXPECT_EQ(read_file_wide(real + "\\_o_a.bmp"), scrambled("meant"));
    const ProcessResult unpacked = run_unpacker_program(typed + "\\p.pak");
    EXPECT_EQ(unpacked.exit_status, 0) << unpacked.output;
    EXPECT_EQ(read_file_wide(real + "\\p\\in.txt"), "unpacked");
    EXPECT_EQ(list_names_wide(redirected), std::vector<std::string>{"b.bmp"});

    for (const std::string& made : {real, redirected}) {
        empty_tree_wide(made);
        RemoveDirectoryW(literal_path(made).c_str());
    }
}

// At a console a name is shown as its characters, whether the code page
// holds them or not, its control characters as '?'; the unpacker's stored
// names are read in the code page first. (A file or pipe gets the code
// page's bytes, as the transcripts above show.) The console here is a
// screen buffer of the test's own, read back cell by cell.
TEST(Win32Names, ConsoleGetsNamesAsCharacters) {
    const std::string name = "\xC3\xA9\x1b\xC4\x81.txt";  // é, ESC, ā (no character of 1252 or 932)
    const bool code_page_1252 = GetACP() == 1252;
    const bool allocated = AllocConsole() != 0;
    HANDLE screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    // Wine gives a process a console only when started at a terminal.
    if (screen == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console here (under Wine, start at a terminal)";
    FILE* out = _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(screen), _O_BINARY), "wb");
    ASSERT_NE(out, nullptr);
    Console console = make_console(stdin, out);
    EXPECT_TRUE(console.out_is_terminal);
    console_print_name(console, name);
    console_print(console, " ...");
    std::wstring expected = L"\u00E9?\u0101.txt ...";
    if (code_page_1252) {
        console_print_stored_name(console, "\xE9.txt");
        expected += L"\u00E9.txt";
    }
    std::wstring cells(expected.size(), L'\0');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, cells.data(), static_cast<DWORD>(cells.size()), COORD{0, 0}, &read);
    cells.resize(read);
    EXPECT_EQ(cells, expected);
    EXPECT_FALSE(console.write_failed);
    std::fclose(out);
    if (allocated) FreeConsole();
}

// A piece the console refuses is a failure of the run (program_main makes
// the status 1), though the stream's own error flag never sees it: here a
// file handed over as a console, which WriteConsoleW refuses.
TEST(Win32Names, AWriteTheConsoleRefusesIsRecorded) {
    ScratchDir scratch;
    FILE* out = std::fopen(scratch.path("out").c_str(), "wb");
    ASSERT_NE(out, nullptr);
    Console console = make_console(stdin, out);
    console.out_is_terminal = true;
    console_print_name(console, "a.txt");
    EXPECT_TRUE(console.write_failed);
    std::fclose(out);
}

#endif  // _WIN32
