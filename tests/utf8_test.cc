#include "common/utf8.h"

#include <gtest/gtest.h>

#include <string>

// Each row: bytes, what the decoder must find at their start, the code point
// and how many bytes it takes. The bounds are where a lenient decoder lets a
// second spelling through.
TEST(Utf8, TellsCharactersFromFormsThatAreNone) {
    struct Row {
        std::string bytes;
        Utf8Kind kind;
        char32_t point;
        size_t length;
    };
    using K = Utf8Kind;
    const Row rows[] = {
        {"a", K::character, 'a', 1},
        {"\xC2\x80", K::character, 0x80, 2},
        {"\xDF\xBF", K::character, 0x7FF, 2},
        {"\xE0\xA0\x80", K::character, 0x800, 3},
        {"\xED\x9F\xBF", K::character, 0xD7FF, 3},
        {"\xEE\x80\x80", K::character, 0xE000, 3},
        {"\xF0\x90\x80\x80", K::character, 0x10000, 4},
        {"\xF4\x8F\xBF\xBF", K::character, 0x10FFFF, 4},
        // Overlong: U+009B (CSI), '/' and NUL in more bytes than they need.
        {"\xC2\x9B" "x", K::character, 0x9B, 2},
        {"\xE0\x82\x9B", K::ill_formed, 0x9B, 3},
        {"\xF0\x80\x82\x9B", K::ill_formed, 0x9B, 4},
        {"\xC0\xAF", K::ill_formed, '/', 2},
        {"\xC1\xBF", K::ill_formed, 0x7F, 2},
        {"\xE0\x9F\xBF", K::ill_formed, 0x7FF, 3},
        {"\xF0\x8F\xBF\xBF", K::ill_formed, 0xFFFF, 4},
        {"\xF4\x90\x80\x80", K::ill_formed, 0x110000, 4},
        {"\xF7\xBF\xBF\xBF", K::ill_formed, 0x1FFFFF, 4},
        {"\xED\xA0\x80", K::surrogate, 0xD800, 3},
        {"\xED\xA0\x9B", K::surrogate, 0xD81B, 3},
        {"\xED\xBF\xBF", K::surrogate, 0xDFFF, 3},
        // Bytes that start no shape: taken alone, as bytes of a code page.
        {"\x9B", K::lone_byte, 0x9B, 1},
        {"\xBF\x80", K::lone_byte, 0xBF, 1},
        {"\xE8\xA1", K::lone_byte, 0xE8, 1},
        {"\xF0\x9D\x84", K::lone_byte, 0xF0, 1},
        {"\xE8\x41\x80", K::lone_byte, 0xE8, 1},
        {"\xF8\x88\x80\x80\x80", K::lone_byte, 0xF8, 1},
        {"\xFF", K::lone_byte, 0xFF, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.bytes));
        const Utf8Unit unit = decode_utf8(row.bytes, 0);
        EXPECT_EQ(unit.kind, row.kind);
        EXPECT_EQ(static_cast<uint32_t>(unit.point), static_cast<uint32_t>(row.point));
        EXPECT_EQ(unit.length, row.length);
    }
    // Decoding starts where asked, and stops at the text's end.
    EXPECT_EQ(decode_utf8("ab\xC3\xA9", 2).length, 2u);
    EXPECT_EQ(decode_utf8(std::string_view("\xC3\xA9", 1), 0).kind, Utf8Kind::lone_byte);
}
