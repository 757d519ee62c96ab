#pragma once

// UTF-8 as every part of the programs reads it: one decoder, so that the
// terminal, the unpacker's name rules, the output folder's cut and the
// conversion for Windows agree on what is a character.

#include <cstddef>
#include <string_view>

enum class Utf8Kind {
    // A character in its one shortest form.
    character,
    // A surrogate (U+D800 to U+DFFF) in three-byte form: no character, but
    // the form in which a lone surrogate of a Windows name is held here
    // (wide_path-win32.h).
    surrogate,
    // Shaped as a character, a lead byte and the continuation bytes it
    // announces, yet none: an overlong form (U+009B or '/' spelled in more
    // bytes than it needs), or beyond U+10FFFF. A lenient reader takes it
    // for what it spells.
    ill_formed,
    // A byte that starts no such shape: a continuation byte, a lead byte cut
    // short, or a byte of some other code page.
    lone_byte,
};

struct Utf8Unit {
    Utf8Kind kind = Utf8Kind::lone_byte;
    // What the bytes spell: the code point, or for a lone byte its value.
    char32_t point = 0;
    // The bytes taken: 1 to 4, and 1 for a lone byte.
    size_t length = 1;
};

// What stands at byte `at` (which must be inside `text`).
Utf8Unit decode_utf8(std::string_view text, size_t at);

// Whether a code point is a control character: below U+0020, U+007F, or
// U+0080 to U+009F, the C1 controls such as CSI (U+009B), which a terminal
// obeys as it does ESC [. A lone byte of these values is one to an 8-bit
// terminal too.
bool is_control_character(char32_t point);
