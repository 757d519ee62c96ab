#include "unpacker/entry_name.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

TEST(EntryName, RefusesNamesThatLeaveTheDirectoryOrNameADevice) {
    for (const char* name : {"/etc/passwd", "\\x", "C:x", "a:b", "x::$DATA", "..", "../x", "a/../../x",
                             "a\\..\\x", "sub/..", "a\tb", "a\x1F", "a\x7F", "\x1b[2J", "CON", "con.txt",
                             "Lpt9.log", "dir/aux", "dir\\Com1.tar.gz", "nul .txt", "prn", "CONIN$", "conout$.log", "COM0", "lpt0.x",
                             // Windows drops a component's last dots and blanks, so these
                             // would name "a", and reserves COM and LPT with superscripts.
                             "a.", "a ", "a. .", "...", "sub./b", "d /x", "COM\xC2\xB9", "lpt\xC2\xB3.txt", "COM\xB2",
                             "COM\xB9", "LPT\xB3",
                             // C1 controls: U+009B (C2 9B, in octal so no digit after it
                             // joins the escape) is CSI, as ESC [ is.
                             "a\302\23331mred.txt", "\xC2\x80", "sub/x\xC2\x9F",
                             // Forms that are no characters, which a lenient reader takes
                             // for CSI, '/' or a character beyond Unicode (in octal, as above).
                             "o\340\202\2332J", "q\355\240\2331m", "w\360\200\202\2333m", "..\300\257x",
                             "a\xF4\x90\x80\x80"}) {
        EXPECT_TRUE(is_unsafe_entry_name(name)) << name;
    }
}

TEST(EntryName, AcceptsOrdinaryNames) {
    for (const char* name : {"", "a.txt", "sub/a", "sub\\a", "..a", "a..b", "./a", "CONSOLE",
                             "COM", "LPT10", "con_", "econ", "\x83\x5C\x83\x74\x83\x67.txt", ".", "sub/.", "COM\xC2\xB4",
                             "\xC2\xA0.txt", "\xC4\x9B.txt", "\xC2\xBF"}) {
        EXPECT_FALSE(is_unsafe_entry_name(name)) << name;
    }
}

TEST(EntryName, BothSeparatorsBecomeThePlatformOne) {
    const std::string sep(1, path_separator());
    std::string path;
    ASSERT_TRUE(entry_name_to_path("a\\b/c.txt", path));
    EXPECT_EQ(path, "a" + sep + "b" + sep + "c.txt");
    EXPECT_FALSE(entry_name_to_path("../x", path));
    // The folder a "." names is the one it stands in; the safe output takes
    // no such component, nor an empty or a trailing one.
    const std::string sub_a = "sub" + sep + "a";
    const std::string a_b = "a" + sep + sep + "b";
    const std::string sub_dot = "sub" + sep + ".";
    const std::string dots = "..a" + sep + ".b";
    for (const auto& [stored, wanted] : std::vector<std::pair<std::string, std::string>>{
             {"./a", "a"}, {".//a", "a"}, {".\\/a", "a"}, {"sub/./.\\a", sub_a}, {"a//b", a_b}, {"./", ""},
             {"sub/.", sub_dot}, {"..a/.b", dots}}) {
        ASSERT_TRUE(entry_name_to_path(stored, path)) << stored;
        EXPECT_EQ(path, wanted) << stored;
    }
}

#ifdef _WIN32
// Code page 1252 has no characters at 0x81, 0x8D, 0x8F, 0x90 and 0x9D:
// Windows reads them as the C1 controls of the same numbers.
TEST(EntryName, CodePageBytesThatAreC1ControlsAreRefused) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252";
    std::string path;
    for (const char code : {'\x81', '\x8D', '\x8F', '\x90', '\x9D'})
        EXPECT_FALSE(entry_name_to_path(std::string("a") + code + ".txt", path)) << static_cast<int>(code & 0xFF);
    EXPECT_TRUE(entry_name_to_path("a\x9B.txt", path));  // U+203A, a quotation mark
}
#endif
