#include "common/utf8.h"

#include <gtest/gtest.h>

#include <string>

// What the decoder finds at the start of each row's bytes: the bounds where
// a lenient decoder lets a second spelling through, and bytes that start no
// character at all.
TEST(Utf8, TellsCharactersFromFormsThatAreNone) {
    struct Row {
        std::string bytes;
        Utf8Kind kind;
        char32_t point;
        size_t length;
    };
    using K = Utf8Kind;
    const Row rows[] = {
        {"\xC2\x80", K::character, 0x80, 2},           {"\xDF\xBF", K::character, 0x7FF, 2},
        {"\xE0\xA0\x80", K::character, 0x800, 3},      {"\xED\x9F\xBF", K::character, 0xD7FF, 3},
        {"\xEE\x80\x80", K::character, 0xE000, 3},     {"\xF0\x90\x80\x80", K::character, 0x10000, 4},
        {"\xF4\x8F\xBF\xBF", K::character, 0x10FFFF, 4},
        // Overlong: '/' and others in more bytes than they need.
        {"\xC0\xAF", K::ill_formed, '/', 2},           {"\xE0\x9F\xBF", K::ill_formed, 0x7FF, 3},
        {"\xF0\x8F\xBF\xBF", K::ill_formed, 0xFFFF, 4}, {"\xF4\x90\x80\x80", K::ill_formed, 0x110000, 4},
        {"\xED\xA0\x80", K::surrogate, 0xD800, 3},     {"\xED\xBF\xBF", K::surrogate, 0xDFFF, 3},
        // Taken alone, as bytes of some other code page.
        {"\x9B", K::lone_byte, 0x9B, 1},               {"\xE8\xA1", K::lone_byte, 0xE8, 1},
        {"\xE8\x41\x80", K::lone_byte, 0xE8, 1},       {"\xF8\x88\x80\x80\x80", K::lone_byte, 0xF8, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.bytes));
        const Utf8Unit unit = decode_utf8(row.bytes + "x", 0);
        EXPECT_EQ(unit.kind, row.kind);
        EXPECT_EQ(static_cast<uint32_t>(unit.point), static_cast<uint32_t>(row.point));
        EXPECT_EQ(unit.length, row.length);
        // Cut short by the text's end, a shape starts nothing.
        if (row.length > 1) {
            EXPECT_EQ(decode_utf8(row.bytes.substr(0, row.length - 1), 0).kind, K::lone_byte);
        }
    }
}
