#pragma once

// Paths between the program's form (UTF-8, path.h) and the UTF-16 form that
// Windows takes, for the Windows platform layer and its safe output only.
// Both directions are exact: a name Windows lists always comes back to the
// same UTF-16 name, even one holding a lone surrogate, which NTFS allows
// and strict UTF-8 cannot hold; such a surrogate is written as its
// three-byte form (as WTF-8 does). Header-only, so both Windows sources
// share it without a build change.

#ifdef _WIN32

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// UTF-16 as the program holds text: UTF-8, with a lone surrogate in its
// three-byte form, so that nothing is lost or merged.
inline std::string utf8_from_utf16(std::wstring_view wide) {
    std::string text;
    text.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t unit = wide[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (static_cast<uint32_t>(wide[i + 1]) - 0xDC00);
            ++i;
        }
        if (unit < 0x80) {
            text += static_cast<char>(unit);
        } else if (unit < 0x800) {
            text += static_cast<char>(0xC0 | (unit >> 6));
            text += static_cast<char>(0x80 | (unit & 0x3F));
        } else if (unit < 0x10000) {
            text += static_cast<char>(0xE0 | (unit >> 12));
            text += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (unit >> 18));
            text += static_cast<char>(0x80 | ((unit >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return text;
}

// The program's text as UTF-16, refusing anything that utf8_from_utf16
// could not have made: malformed or overlong sequences, a surrogate pair
// written as two halves (which would give a second spelling of one name),
// and NUL, which would cut the name short where Windows reads it.
inline bool utf16_from_utf8(std::string_view text, std::wstring& wide) {
    wide.clear();
    wide.reserve(text.size());
    bool after_high_surrogate = false;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t point = 0;
        uint32_t least = 0;
        if (lead == 0) return false;
        if (lead < 0x80) {
            length = 1, point = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, point = lead & 0x1Fu, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, point = lead & 0x0Fu, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, point = lead & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3Fu);
        }
        if (point < least || point > 0x10FFFF) return false;
        const bool low_surrogate = point >= 0xDC00 && point <= 0xDFFF;
        if (low_surrogate && after_high_surrogate) return false;
        after_high_surrogate = point >= 0xD800 && point <= 0xDBFF;
        if (point >= 0x10000) {
            point -= 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (point >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (point & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(point);
        }
        i += length;
    }
    return true;
}

// `name` inside the directory at `directory` (a \\?\ path): one separator
// between them, none added after a drive's root, which already ends in one.
inline std::wstring wide_child_path(const std::wstring& directory, std::wstring_view name) {
    std::wstring path = directory;
    if (path.empty() || path.back() != L'\\') path += L'\\';
    path += name;
    return path;
}

// Whether two names are one to the file system, which ignores letter case
// (in its own, locale-free sense).
inline bool same_name_ignoring_case(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

#endif  // _WIN32
