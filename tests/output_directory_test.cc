#include "unpacker/output_directory.h"

#include <gtest/gtest.h>

namespace {

bool no_lead_bytes(unsigned char) { return false; }
bool shift_jis_lead_byte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

}  // namespace

TEST(OutputDirectory, TakesOffTheLastComponentsExtension) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\games\\data.pak", "C:\\games\\data"}, {"data.pak", "data"},
        {"/srv/set.old.pak", "/srv/set.old"},       {"D:\\work\\archive", "D:\\work\\archive"},
        {"dir.v2/archive", "dir.v2/archive"},       {"a/b\\c.d.e", "a/b\\c.d"},
        {"C:x.pak", "C:x"},                         {"trailing.", "trailing"},
        // A bare extension or only dots keeps the whole name: never the
        // parent, the current directory or the root.
        {".pak", ".pak"}, {"/.pak", "/.pak"}, {"C:\\.pak", "C:\\.pak"}, {"dir/..pak", "dir/..pak"},
        {"...pak", "...pak"},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(derive_output_directory(path, no_lead_bytes), expected) << path;
}

TEST(OutputDirectory, KeepsDoubleByteCharactersWhole) {
    // 0x5C ('\') and 0x2E ('.') as second bytes belong to their characters.
    EXPECT_EQ(derive_output_directory("\x95\x5C\\d\x81\x2E" "a.pak", shift_jis_lead_byte),
              "\x95\x5C\\d\x81\x2E" "a");
    EXPECT_EQ(derive_output_directory("x\\\x81\x2Epak", shift_jis_lead_byte), "x\\\x81\x2Epak");
    EXPECT_EQ(derive_output_directory("\x95\x5C" "a.pak", no_lead_bytes), "\x95\x5C" "a");
}

TEST(OutputDirectory, CutsTheBaseNameOnACharacterBoundaryButNeverTheDirectory) {
    const std::string long_base(300, 'b');
    EXPECT_EQ(derive_output_directory("d/" + long_base + ".pak", no_lead_bytes), "d/" + std::string(255, 'b'));
    // A pair would straddle byte 255: the lead byte goes too.
    const std::string straddling = std::string(254, 'b') + "\x88\x9F" + "b.pak";
    EXPECT_EQ(derive_output_directory(straddling, shift_jis_lead_byte), std::string(254, 'b'));
    EXPECT_EQ(derive_output_directory(straddling, no_lead_bytes), std::string(254, 'b') + "\x88");
    const std::string long_directory = std::string(300, 'd') + "/a.pak";
    // A cut directory would be another folder: it stays whole.
    EXPECT_EQ(derive_output_directory(long_directory, no_lead_bytes), std::string(300, 'd') + "/a");
    // A cut that leaves only dots would be the archive's own folder on
    // Windows, which drops trailing dots: the whole name is kept.
    const std::string dots_then_pair = std::string(254, '.') + "\x82\xA0";
    EXPECT_EQ(derive_output_directory("d\\" + dots_then_pair, shift_jis_lead_byte), "d\\" + dots_then_pair);
}
