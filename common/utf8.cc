#include "common/utf8.h"

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// How many bytes a lead byte announces, and the bits of the code point it
// carries; 0 for a byte that leads nothing (a continuation byte, or 0xF8
// and up, which led only the five- and six-byte forms UTF-8 has dropped).
size_t announced_length(unsigned char lead, char32_t& bits) {
    if (lead < 0x80) return bits = lead, 1;
    if (lead >= 0xC0 && lead < 0xE0) return bits = lead & 0x1Fu, 2;
    if (lead >= 0xE0 && lead < 0xF0) return bits = lead & 0x0Fu, 3;
    if (lead >= 0xF0 && lead < 0xF8) return bits = lead & 0x07u, 4;
    return 0;
}

// The least code point that needs `length` bytes: one below it spelled in
// that many is overlong.
char32_t least_for(size_t length) {
    constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    return least[length];
}

}  // namespace

// Reads the lead byte's shape first, so that a form which is no character
// is still told apart from bytes of another code page.
Utf8Unit decode_utf8(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    char32_t point = 0;
    const size_t length = announced_length(lead, point);
    if (length == 0 || at + length > text.size()) return {Utf8Kind::lone_byte, lead, 1};
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (!is_continuation(next)) return {Utf8Kind::lone_byte, lead, 1};
        point = (point << 6) | (next & 0x3Fu);
    }
    if (point < least_for(length) || point > 0x10FFFF) return {Utf8Kind::ill_formed, point, length};
    if (point >= 0xD800 && point <= 0xDFFF) return {Utf8Kind::surrogate, point, length};
    return {Utf8Kind::character, point, length};
}

bool is_control_character(char32_t point) { return point < 0x20 || (point >= 0x7F && point < 0xA0); }
