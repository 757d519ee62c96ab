// Names at the Windows console and in archives, the only places the active
// code page is met; every conversion there is exact or refused, never a
// best fit.

#include <windows.h>

#include "common/code_page.h"
#include "common/wide_path-win32.h"

// Names are shown in the active code page, as the console and any file the
// output is sent to expect: byte for byte what an ANSI program printed for
// every name the code page holds. A character it lacks becomes the code
// page's default character, never a look-alike that would name another file.
std::string name_for_console(std::string_view name) {
    std::wstring wide;
    if (GetACP() == CP_UTF8 || !utf16_from_utf8(name, wide) || wide.empty()) return std::string(name);
    const int length = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr,
                                         nullptr);
    if (size <= 0) return std::string(name);
    std::string shown(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, shown.data(), size, nullptr, nullptr);
    return shown;
}

// An entry's name is read in the active code page, and refused only where
// it holds bytes that are no character there. A character with two codes
// (code page 932 has NEC's and IBM's for 髙, Ⅰ, ∵ and others) is the same
// character either way: two entries naming it at different codes are two
// entries with one name, the later one written last.
bool archive_name_to_path(std::string_view stored, std::string& path) {
    path.clear();
    if (stored.empty()) return true;
    const UINT code_page = GetACP();
    const int length = static_cast<int>(stored.size());
    const int wide_size = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, stored.data(), length, nullptr, 0);
    if (wide_size <= 0) return false;
    std::wstring wide(static_cast<size_t>(wide_size), L'\0');
    if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, stored.data(), length, wide.data(), wide_size) !=
        wide_size)
        return false;
    path = utf8_from_utf16(wide);
    return true;
}
