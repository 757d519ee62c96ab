#include "unpacker/output_directory.h"

#include <gtest/gtest.h>

TEST(OutputDirectory, TakesOffTheLastComponentsExtension) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\games\\data.pak", "C:\\games\\data"}, {"data.pak", "data"},
        {"/srv/set.old.pak", "/srv/set.old"},       {"D:\\work\\archive", "D:\\work\\archive"},
        {"dir.v2/archive", "dir.v2/archive"},       {"a/b\\c.d.e", "a/b\\c.d"},
        {"C:x.pak", "C:x"},                         {"trailing.", "trailing"},
        {"C:.pak", "C:.pak"},  // the drive is no base name: never the drive's current folder
        {"my data .pak", "my data "},
        // A bare extension or only dots keeps the whole name: never the
        // parent, the current directory or the root.
        {".pak", ".pak"}, {"/.pak", "/.pak"}, {"C:\\.pak", "C:\\.pak"}, {"dir/..pak", "dir/..pak"},
        {"...pak", "...pak"},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(derive_output_directory(path, false), expected) << path;
}

// Where the file system drops trailing dots and blanks, the folder made and
// the folder the files are written into must be the same one.
TEST(OutputDirectory, TrimsWhatWindowsWouldDropFromTheBaseName) {
    const std::pair<std::string, std::string> cases[] = {
        {"my data .pak", "my data"}, {"d\\x. .pak", "d\\x"}, {"plain.pak", "plain"},
        {"d\\ .pak", "d\\ .pak"},    {". .pak", ". .pak"},   {"a.b. .pak", "a.b"},
        // The name Windows opens: "a.pak." is the archive "a.pak".
        {"d\\a.pak.", "d\\a"},       {"a.pak. .", "a"},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(derive_output_directory(path, true), expected) << path;
}

// A name that fits where it is stored is never cut, so two archives never
// share a folder: 86 of "表" are 86 UTF-16 units on Windows, 258 bytes on
// POSIX (where such an archive name could not exist).
TEST(OutputDirectory, CutsOnlyWhereTheFileSystemMust) {
    std::string table;
    for (int i = 0; i < 87; ++i) table += "\xE8\xA1\xA8";
    const std::string eighty_six = table.substr(0, 258);
    EXPECT_EQ(derive_output_directory(eighty_six + ".pak", true), eighty_six);
    EXPECT_EQ(derive_output_directory(table + "2.pak", true), table + "2");
    EXPECT_EQ(derive_output_directory(eighty_six + ".pak", false), table.substr(0, 255));
    // Beyond U+FFFF a character takes two UTF-16 units: 128 of them are 256.
    std::string clefs;
    for (int i = 0; i < 128; ++i) clefs += "\xF0\x9D\x84\x9E";
    EXPECT_EQ(derive_output_directory(clefs + ".pak", true), clefs.substr(0, size_t{127} * 4));
}

TEST(OutputDirectory, CutsTheBaseNameOnACharacterBoundaryButNeverTheDirectory) {
    const std::string long_base(300, 'b');
    EXPECT_EQ(derive_output_directory("d/" + long_base + ".pak", false), "d/" + std::string(255, 'b'));
    // A character that would straddle byte 255 goes whole, wherever in it
    // the limit falls.
    for (const std::string character : {"\xC3\xA9", "\xE8\xA1\xA8", "\xF0\x9D\x84\x9E"}) {
        for (size_t before = 256 - character.size(); before < 255; ++before) {
            const std::string straddling = std::string(before, 'b') + character + "b.pak";
            EXPECT_EQ(derive_output_directory(straddling, false), std::string(before, 'b')) << before;
        }
    }
    const std::string long_directory = std::string(300, 'd') + "/a.pak";
    // A cut directory would be another folder: it stays whole.
    EXPECT_EQ(derive_output_directory(long_directory, false), std::string(300, 'd') + "/a");
    // A cut that leaves only dots would be the archive's own folder on
    // Windows, which drops trailing dots: the whole name is kept.
    const std::string dots_then_more = std::string(255, '.') + "xy";
    EXPECT_EQ(derive_output_directory("d\\" + dots_then_more, false), "d\\" + dots_then_more);
}
