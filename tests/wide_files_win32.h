#pragma once

// Files under any name and at any depth, for the Windows tests. The shared
// helpers of test_support.h open files through the C runtime's narrow calls
// and std::filesystem, which read a name in the active code page or byte by
// byte, and stop at 260 characters; these take a path in UTF-8, as the
// programs hold paths, through the wide calls in the \\?\ form. Header-only,
// since the test build compiles only *_test.cc and test_support.cc.

#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

// `path` (absolute, '\' only) as the wide \\?\ path that Windows takes
// literally and at any length.
inline std::wstring literal_path(std::string_view path) { return L"\\\\?\\" + wide_of(path); }

// A name Windows gives back, in UTF-8 as the programs hold it.
inline std::string utf8_of(std::wstring_view wide) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                            nullptr);
    return text;
}

// A UTF-8 literal (u8"ａ.bmp") as the std::string the programs take.
inline std::string utf8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// Creates or replaces the file with `bytes`.
inline bool write_file_wide(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileW(literal_path(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const BOOL written = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(file);
    return written != 0 && put == bytes.size();
}

// The file's bytes, or `missing` when it cannot be opened.
inline std::string read_file_wide(const std::string& path, const std::string& missing = "<missing>") {
    HANDLE file = CreateFileW(literal_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return missing;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// One directory; false when it cannot be made or already stands.
inline bool make_dir_wide(const std::string& path) {
    return CreateDirectoryW(literal_path(path).c_str(), nullptr) != 0;
}

// Whether anything stands at `path`, a link as itself.
inline bool exists_wide(const std::string& path) {
    return GetFileAttributesW(literal_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Names in a folder (not "." and ".."), in UTF-8, sorted by bytes.
inline std::vector<std::string> list_names_wide(const std::string& directory) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((literal_path(directory) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(utf8_of(name));
    } while (FindNextFileW(search, &found) != 0);
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Removes everything below `directory`, links as themselves, never what
// they lead to.
inline void empty_tree_wide(const std::string& directory) {
    for (const std::string& name : list_names_wide(directory)) {
        const std::string path = directory + "\\" + name;
        const DWORD attributes = GetFileAttributesW(literal_path(path).c_str());
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            empty_tree_wide(path);
        SetFileAttributesW(literal_path(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            RemoveDirectoryW(literal_path(path).c_str());
        else
            DeleteFileW(literal_path(path).c_str());
    }
}

// Restores the process's current directory when a test has moved it.
struct CurrentDirectoryGuard {
    CurrentDirectoryGuard() {
        wchar_t buffer[MAX_PATH];
        saved.assign(buffer, GetCurrentDirectoryW(MAX_PATH, buffer));
    }
    ~CurrentDirectoryGuard() { SetCurrentDirectoryW(saved.c_str()); }
    CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
    CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;
    std::wstring saved;
};

// A scratch folder whose contents may have names that std::filesystem
// cannot remove (trailing dots or blanks, paths past 260 characters).
struct WideScratch {
    ~WideScratch() { empty_tree_wide(dir.root); }
    std::string path(const std::string& name) const { return dir.root + "\\" + name; }
    ScratchDir dir;
};

#endif  // _WIN32
