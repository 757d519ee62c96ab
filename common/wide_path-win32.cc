// Paths between the program's form and Windows' own (wide_path-win32.h).

#include "common/wide_path-win32.h"

#include <cstdint>

#include "common/utf8.h"

namespace {

// Whether `text` begins with `prefix`; for the \\?\ and \\.\ forms.
bool starts_with(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Whether a drive letter and its colon stand at `at`.
bool has_drive_at(std::wstring_view path, size_t at) {
    if (path.size() < at + 2 || path[at + 1] != L':') return false;
    const wchar_t letter = path[at];
    return (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
}

// How much of a \\?\ path is its root ("\\?\C:\", "\\?\UNC\server\share\"),
// whose separator must stay: without it the path names the volume itself.
size_t root_length(std::wstring_view system) {
    size_t at = 4;
    const int parts = starts_with(system.substr(at), L"UNC\\") ? 3 : 1;
    for (int i = 0; i < parts; ++i) {
        const size_t separator = system.find(L'\\', at);
        if (separator == std::wstring_view::npos) return system.size();
        at = separator + 1;
    }
    return at;
}

// Whether a path in the \\?\ form names a file or directory: a drive's
// root or below it ("\\?\C:\", "\\?\C:\dir"), or a share or below it
// ("\\?\UNC\server\share"). Every other form reaches a device or a whole
// volume: "\\?\C:" is drive C's raw volume, and GLOBALROOT, PhysicalDriveN,
// pipes and Volume{...} lead to devices by their own names.
bool names_file_or_directory(std::wstring_view system) {
    if (has_drive_at(system, 4)) return system.size() > 6 && system[6] == L'\\';
    if (!starts_with(system, L"\\\\?\\UNC\\")) return false;
    const std::wstring_view share = system.substr(8);
    const size_t separator = share.find(L'\\');
    return separator != std::wstring_view::npos && separator > 0 && separator + 1 < share.size() &&
           share[separator + 1] != L'\\';
}

// The path Windows gives for an open file or directory: where it really is,
// after any link or junction on the way. Empty where Windows cannot tell,
// as on a volume without a drive letter.
std::wstring final_path_of(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);  // too small: `length` is the size needed
    }
    return {};
}

// Whether two handles are open on one file or directory.
bool same_file(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x;
    BY_HANDLE_FILE_INFORMATION y;
    return GetFileInformationByHandle(a, &x) != 0 && GetFileInformationByHandle(b, &y) != 0 &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace

Status system_path(const std::string& path, std::wstring& system) {
    std::wstring wide;
    if (path.empty() || !utf16_from_utf8(path, wide)) return failed(Failure::name_refused, ERROR_INVALID_NAME);
    if (starts_with(wide, L"\\\\?\\")) {
        system = wide;
    } else {
        const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        if (size == 0) return last_failure(Failure::name_refused);
        std::wstring full(size, L'\0');
        const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
        if (length == 0) return last_failure(Failure::name_refused);
        if (length >= size) return failed(Failure::name_refused, ERROR_FILENAME_EXCED_RANGE);
        full.resize(length);
        if (starts_with(full, L"\\\\.\\") || starts_with(full, L"\\\\?\\")) {
            system = L"\\\\?\\" + full.substr(4);
        } else if (starts_with(full, L"\\\\")) {
            system = L"\\\\?\\UNC\\" + full.substr(2);
        } else {
            system = L"\\\\?\\" + full;
        }
    }
    if (!names_file_or_directory(system)) return failed(Failure::name_refused, ERROR_INVALID_NAME);
    const size_t root = root_length(system);
    while (system.size() > root && system.back() == L'\\') system.pop_back();
    return kSucceeded;
}

std::wstring pinned_path(HANDLE opened, const std::wstring& system) {
    const std::wstring final_path = final_path_of(opened);
    if (final_path.empty() || final_path == system) return system;
    HANDLE again = CreateFileW(final_path.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (again == INVALID_HANDLE_VALUE) return system;
    const bool same = same_file(opened, again);
    CloseHandle(again);
    return same ? final_path : system;
}


// UTF-16 as the program holds text: UTF-8, with a lone surrogate in its
// three-byte form, so that nothing is lost or merged.
std::string utf8_from_utf16(std::wstring_view wide) {
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
bool utf16_from_utf8(std::string_view text, std::wstring& wide) {
    wide.clear();
    wide.reserve(text.size());
    bool after_high_surrogate = false;
    for (size_t i = 0; i < text.size();) {
        const Utf8Unit unit = decode_utf8(text, i);
        if ((unit.kind != Utf8Kind::character && unit.kind != Utf8Kind::surrogate) || unit.point == 0) return false;
        char32_t point = unit.point;
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
        i += unit.length;
    }
    return true;
}

// `name` inside the directory at `directory` (a \\?\ path): one separator
// between them, none added after a drive's root, which already ends in one.
std::wstring wide_child_path(const std::wstring& directory, std::wstring_view name) {
    std::wstring path = directory;
    if (path.empty() || path.back() != L'\\') path += L'\\';
    path += name;
    return path;
}

// Whether two names are one to the file system, which ignores letter case
// (in its own, locale-free sense).
bool same_name_ignoring_case(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}


bool find_listed(const std::wstring& directory, const std::wstring& name, WIN32_FIND_DATAW& found) {
    HANDLE search = FindFirstFileExW(wide_child_path(directory, name).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}
