// Fuzz target for the derivation of the output directory from an archive's
// path. The input's first byte says whether Windows' rules for names hold
// (its lowest bit: trailing dots and blanks dropped, lengths in UTF-16
// units); the rest is the path. Beyond
// crashes it checks the promises that keep the output where the user
// expects it: the drive and the directories are kept whole, only the last
// component is shortened, never into nothing, a bare separator or the
// parent directory, and never inside a UTF-8 character.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_check.h"
#include "unpacker/output_directory.h"

namespace {

bool only_dots(std::string_view text) { return text.find_first_not_of('.') == std::string_view::npos; }

bool dot_or_blank(char c) { return c == '.' || c == ' '; }

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The length of the character that starts at `at`, read off the table of
// well-formed UTF-8 (with the three-byte surrogates, the form a Windows
// name's lone surrogate is held in), or 0 where none starts: a lone byte.
size_t character_length(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    if (lead >= 0xC2) length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k)
        if (!continuation(text[at + k])) return 0;
    const auto second = static_cast<unsigned char>(text[at + 1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

// The length of `text` in the file system's units: bytes, or UTF-16 units,
// where a character beyond U+FFFF takes two and a lone byte one.
size_t units(std::string_view text, bool utf16) {
    if (!utf16) return text.size();
    size_t count = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t length = character_length(text, at);
        count += length == 4 ? 2 : 1;
        at += length == 0 ? 1 : length;
    }
    return count;
}

// Whether ending a name after `end` bytes of `text` cuts a character in two.
bool splits_a_character(std::string_view text, size_t end) {
    for (size_t back = 1; back <= 3 && back <= end; ++back)
        if (character_length(text, end - back) > back) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool trim = (data[0] & 1) != 0;
    const std::string_view path(reinterpret_cast<const char*>(data) + 1, size - 1);

    const std::string result = derive_output_directory(path, trim);

    size_t last_start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
    for (size_t at = last_start; at < path.size(); ++at) {
        if (path[at] == '\\' || path[at] == '/') last_start = at + 1;
    }
    const std::string_view typed = path.substr(last_start);
    // On Windows the name as it is opened: without trailing dots and blanks.
    std::string_view last = typed;
    if (trim) {
        while (!last.empty() && dot_or_blank(last.back())) last.remove_suffix(1);
        if (only_dots(last)) last = typed;
    }

    require(path.substr(0, result.size()) == result, "the result is a beginning of the path");
    require(result.size() >= last_start, "the drive and the directories are kept whole");
    const std::string_view kept = std::string_view(result).substr(last_start);
    if (kept == typed || kept == last) return 0;  // the whole name, as for a bare extension
    require(!kept.empty(), "a non-empty last component never becomes empty");
    require(units(kept, trim) <= 255, "the last component is cut to 255 bytes or UTF-16 units");
    // Windows drops trailing dots: a kept part of only dots would be the
    // archive's own folder, the parent or the current directory.
    require(!only_dots(kept), "only dots are never kept from a longer name");
    // A UTF-8 character is never split; a lone byte, which is none, may be.
    require(!splits_a_character(last, kept.size()), "a UTF-8 character is never split");
    if (trim) require(!dot_or_blank(kept.back()), "trailing dots and blanks are taken off");

    // What was taken off is the extension, what passes the limit, and with
    // the trim the dots and blanks before either.
    size_t end = kept.size();
    while (trim && end < last.size() && dot_or_blank(last[end])) ++end;
    const size_t last_dot = last.rfind('.');
    const bool at_extension = end >= last_dot && kept.size() <= last_dot;
    const bool at_limit = trim ? units(last.substr(0, end), true) + 2 > 255 : end + 4 > 255;
    const bool only_trimmed = end == last.size();  // a name kept whole, less its trailing dots and blanks
    require(at_extension || at_limit || only_trimmed, "only the extension or what passes the limit is taken off");
    return 0;
}
