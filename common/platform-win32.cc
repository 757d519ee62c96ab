// The platform layer on Windows. Paths reach Windows as UTF-16 through the
// wide calls, made absolute once and in the \\?\ form, so that Windows takes
// every name literally and at any length: no best-fit conversion, no
// trailing dots or blanks dropped, no short name resolved behind the
// program's back, no 260-character limit. The active code page is met only
// at the edges (the console and archive entry names), and every conversion
// there is exact or refused.

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "common/device_name.h"
#include "common/platform.h"
#include "common/wide_path-win32.h"

namespace {

// A directory is held open without FILE_SHARE_DELETE: while the program
// works in it, it cannot be renamed, removed or replaced, so the path kept
// with the handle goes on leading to it.
constexpr DWORD kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kDirectoryShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A handle field as the calls take it: null, never opened, reads as invalid.
HANDLE as_handle(void* handle) { return handle == nullptr ? INVALID_HANDLE_VALUE : handle; }

// Closes a handle if open, and marks it closed; nothing to report on failure.
void close_quietly(void*& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}

// The failure of the call just made, with Windows' own code.
OsStatus last_failure() { return os_failure(static_cast<int>(GetLastError())); }

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

// A path from the user (an argument, or one derived from it) as Windows
// should be handed it: absolute, by GetFullPathNameW, which reads "C:" as
// the current folder of drive C:, resolves "." and "..", and takes trailing
// dots and blanks off as Windows itself does; then in the \\?\ form, so that
// nothing further is changed and any length works. A path already in that
// form is taken as it stands. Device paths (NUL, \\.\pipe\...) are refused:
// they are not files.
OsStatus system_path(const std::string& path, std::wstring& system) {
    std::wstring wide;
    if (path.empty() || !utf16_from_utf8(path, wide)) return os_failure(ERROR_INVALID_NAME);
    if (starts_with(wide, L"\\\\?\\")) {
        system = wide;
    } else {
        const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        if (size == 0) return last_failure();
        std::wstring full(size, L'\0');
        const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
        if (length == 0) return last_failure();
        if (length >= size) return os_failure(ERROR_FILENAME_EXCED_RANGE);
        full.resize(length);
        if (starts_with(full, L"\\\\.\\")) {
            if (!has_drive_at(full, 4)) return os_failure(ERROR_INVALID_NAME);
            system = L"\\\\?\\" + full.substr(4);
        } else if (starts_with(full, L"\\\\")) {
            system = L"\\\\?\\UNC\\" + full.substr(2);
        } else {
            system = L"\\\\?\\" + full;
        }
    }
    const size_t root = root_length(system);
    while (system.size() > root && system.back() == L'\\') system.pop_back();
    return os_ok();
}

// One name within a directory: not empty, no separator, not "." or "..".
bool is_one_component(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), is_path_separator);
}

// A path whose last component names a device ("dir\nul.txt" is NUL, and so
// is "C:nul"): reading or replacing one must never be attempted.
bool names_a_device(const std::string& path) {
    const std::vector<std::string_view> components = path_components(path);
    if (components.empty()) return false;
    std::string_view last = components.back();
    const size_t colon = last.rfind(':');
    if (colon != std::string_view::npos) last.remove_prefix(colon + 1);
    return is_device_name(last);
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

// The path to keep for a directory opened at `system`: the one Windows
// reports for it, with every link and junction on the way resolved once, so
// that none changed later can lead elsewhere; but only when that path
// leads back to the same directory (Wine reports "sub." as "sub").
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

// Whether attributes and reparse tag describe a link: a reparse point that
// stands for another name (symbolic link, junction). Other reparse points
// (cloud placeholders, deduplicated files) are the file itself. A reparse
// point whose tag Windows leaves unreported (as Wine does for its links) is
// taken as a link.
bool is_link_attribute(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag == 0 || IsReparseTagNameSurrogate(tag));
}

enum class Opened { as_named, link, reparse_point, wrong_kind, elsewhere };

// What was opened as `name` in the directory at `directory`, with
// FILE_FLAG_OPEN_REPARSE_POINT: the thing named itself; a link or junction
// standing there; another kind of reparse point (to be opened again without
// the flag); a file where a directory was wanted or the reverse; or not the
// name asked for. The name as Windows lists it now must be the one asked
// for, letter case aside: that catches an 8.3 short name standing for a
// different long one, and a link that Windows followed although asked not
// to (Wine does, and shows the link only in its listings).
Opened judge_opened(HANDLE opened, const std::wstring& directory, const std::wstring& name, bool want_directory) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &tag, sizeof tag) == 0)
        return Opened::elsewhere;
    if (is_link_attribute(tag.FileAttributes, tag.ReparseTag)) return Opened::link;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Opened::reparse_point;
    if (((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != want_directory) return Opened::wrong_kind;
    WIN32_FIND_DATAW listed;
    HANDLE search = FindFirstFileExW(wide_child_path(directory, name).c_str(), FindExInfoBasic, &listed,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return Opened::elsewhere;
    FindClose(search);
    if (!same_name_ignoring_case(listed.cFileName, name)) return Opened::elsewhere;
    if (is_link_attribute(listed.dwFileAttributes, listed.dwReserved0)) return Opened::link;
    return Opened::as_named;
}

// The system code a refusal by judge_opened is reported with.
int error_for(Opened opened) {
    return opened == Opened::wrong_kind ? ERROR_DIRECTORY : ERROR_CANT_RESOLVE_FILENAME;
}

// Opens for reading, other readers and writers allowed, as any program
// reading a file in use would.
HANDLE open_for_reading(const std::wstring& path, DWORD flags) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN | flags, nullptr);
}

// Takes an opened handle as a regular input file, or refuses and closes it:
// a directory, device or pipe is not a file to read whole.
OsStatus take_regular_file(InputFile& file, HANDLE opened) {
    if (opened == INVALID_HANDLE_VALUE) return last_failure();
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER size;
    int error = 0;
    if (GetFileType(opened) != FILE_TYPE_DISK)
        error = ERROR_BAD_FILE_TYPE;
    else if (GetFileInformationByHandle(opened, &info) == 0 || GetFileSizeEx(opened, &size) == 0)
        error = static_cast<int>(GetLastError());
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        error = ERROR_BAD_FILE_TYPE;
    if (error != 0) {
        CloseHandle(opened);
        return os_failure(error);
    }
    file.handle = opened;
    file.size = static_cast<int64_t>(size.QuadPart);
    return os_ok();
}

}  // namespace

// Windows' own separator, for paths the programs join.
char path_separator() { return '\\'; }

// Windows takes '/' as well as '\\' between components.
bool is_path_separator(char c) { return c == '\\' || c == '/'; }

// The arguments from the UTF-16 command line: main's argv holds them in the
// active code page, where every character the code page lacks has been
// replaced by a look-alike ("ｃ.pak" arrives as "c.pak"). The C runtime's
// argv serves only if Windows cannot split the command line.
std::vector<std::string> program_arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) arguments.push_back(utf8_from_utf16(wide[i]));
    LocalFree(wide);
    return arguments;
}

// Arguments reach main exactly as typed: the C runtime must not expand
// wildcards in them, or "scrambler *" would become a list of names.
extern "C" {
int _dowildcard = 0;
}

// Standard output in binary mode: the programs write "\n" alone, the same
// bytes as on Linux, rather than the text mode's "\r\n". Standard input
// stays in text mode, so Enter at a console ("\r\n") is one key to the
// pause. A missing drive gives an error, not a system dialog box. Nothing
// is needed for interrupts: a temporary being written is marked to be
// deleted when closed, which Windows does however the program ends.
void init_process() {
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

// A console, not a file or pipe (nor the NUL device, which _isatty counts).
bool is_terminal(FILE* stream) {
    if (stream == nullptr) return false;
    const intptr_t os_handle = _get_osfhandle(_fileno(stream));
    DWORD mode = 0;
    return os_handle != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(os_handle), &mode) != 0;
}

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

// An entry's name is read in the active code page and taken only if the
// conversion is exact both ways: bytes that are no character there, or a
// character the code page would give back differently, make the name unsafe
// rather than some other name.
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
    const bool utf8 = code_page == CP_UTF8;
    BOOL used_default = FALSE;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    std::string back(stored.size(), '\0');
    const int back_size = WideCharToMultiByte(code_page, flags, wide.data(), wide_size, back.data(), length,
                                              nullptr, utf8 ? nullptr : &used_default);
    if (back_size != length || used_default || back != stored) return false;
    path = utf8_from_utf16(wide);
    return true;
}

// Windows stores "a." and "a " as "a" (save by \\?\ paths, which Explorer
// cannot follow), so the unpacker names its folder as it will be stored.
bool names_lose_trailing_dots_and_spaces() { return true; }

// Looks through links to what they lead to, as the argument means it. A
// path ending in a separator names a directory or nothing.
PathKind probe_path(const std::string& path) {
    std::wstring system;
    if (!system_path(path, system)) return PathKind::missing;
    HANDLE found = CreateFileW(system.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (found == INVALID_HANDLE_VALUE) return PathKind::missing;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL known = GetFileInformationByHandle(found, &info);
    CloseHandle(found);
    if (known == 0) return PathKind::missing;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::directory;
    return ends_in_separator(path) ? PathKind::missing : PathKind::other;
}

// One directory, at the path as Windows reads the user's path.
OsStatus create_directory(const std::string& path) {
    std::wstring system;
    const OsStatus converted = system_path(path, system);
    if (!converted) return converted;
    return CreateDirectoryW(system.c_str(), nullptr) != 0 ? os_ok() : last_failure();
}

// Lets the directory be renamed or removed again.
DirectoryHandle::~DirectoryHandle() { close_quietly(handle); }

// Whether a directory is held.
bool DirectoryHandle::is_open() const { return handle != nullptr; }

// The user's directory, reached through any link or junction on its path;
// from then on it is known by the path Windows reports for it, so a link on
// the way that is changed later leads nothing astray.
OsStatus open_directory(DirectoryHandle& directory, const std::string& path) {
    close_quietly(directory.handle);
    directory.path.clear();
    std::wstring system;
    const OsStatus converted = system_path(path.empty() ? std::string(".") : path, system);
    if (!converted) return converted;
    HANDLE opened = CreateFileW(system.c_str(), kDirectoryAccess, kDirectoryShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return last_failure();
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(opened, &info) == 0 || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(opened);
        return os_failure(ERROR_DIRECTORY);
    }
    directory.handle = opened;
    directory.path = pinned_path(opened, system);
    return os_ok();
}

// FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction standing at the
// name as itself, and it is refused, whenever it was put there; so is a
// short name standing for another folder (see judge_opened).
OsStatus open_subdirectory(DirectoryHandle& child, const DirectoryHandle& parent, const std::string& name) {
    close_quietly(child.handle);
    child.path.clear();
    if (!parent.is_open()) return os_failure(ERROR_INVALID_HANDLE);
    std::wstring wide;
    if (!is_one_component(name) || !utf16_from_utf8(name, wide)) return os_failure(ERROR_INVALID_NAME);
    std::wstring path = wide_child_path(parent.path, wide);
    HANDLE opened = CreateFileW(path.c_str(), kDirectoryAccess, kDirectoryShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return last_failure();
    const Opened found = judge_opened(opened, parent.path, wide, true);
    // A reparse point that is no link (a cloud folder) is the folder itself.
    if (found != Opened::as_named && found != Opened::reparse_point) {
        CloseHandle(opened);
        return os_failure(error_for(found));
    }
    child.handle = opened;
    child.path = std::move(path);
    return os_ok();
}

// Every name in the directory, each converted exactly; the search runs on
// the \\?\ path, so names are listed as stored, whatever they hold.
OsStatus list_directory(const DirectoryHandle& directory, std::vector<DirEntry>& entries) {
    entries.clear();
    if (!directory.is_open()) return os_failure(ERROR_INVALID_HANDLE);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(wide_child_path(directory.path, L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        // A drive's root has no "." or "..": when it is empty, nothing matches.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? os_ok() : os_failure(static_cast<int>(error));
    }
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        DirEntry entry{utf8_from_utf16(name), EntryKind::regular,
                       is_link_attribute(found.dwFileAttributes, found.dwReserved0)};
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            entry.kind = EntryKind::directory;
        else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0)
            entry.kind = EntryKind::other;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search, &found) != 0);
    const DWORD error = GetLastError();
    FindClose(search);
    // NTFS returns names roughly in this order, FAT and Wine in creation or
    // host order: sorting makes the walk's report the same everywhere.
    std::sort(entries.begin(), entries.end(), listing_order);
    return error == ERROR_NO_MORE_FILES ? os_ok() : os_failure(static_cast<int>(error));
}

// Closes the file, if one was opened.
InputFile::~InputFile() { close_quietly(handle); }

// The archive named by the user: a device name, or a name ending in a
// separator, is never a file to read.
OsStatus open_input_file(InputFile& file, const std::string& path) {
    close_quietly(file.handle);
    if (names_a_device(path) || ends_in_separator(path)) return os_failure(ERROR_INVALID_NAME);
    std::wstring system;
    const OsStatus converted = system_path(path, system);
    if (!converted) return converted;
    return take_regular_file(file, open_for_reading(system, 0));
}

// Without `follow_link`, a link or junction at the name is refused even if
// the listing saw none there; a reparse point that is no link (a cloud
// placeholder) is opened again without FILE_FLAG_OPEN_REPARSE_POINT, so its
// contents are read rather than the placeholder's.
OsStatus open_input_file_at(InputFile& file, const DirectoryHandle& directory, const std::string& name,
                            bool follow_link) {
    close_quietly(file.handle);
    if (!directory.is_open()) return os_failure(ERROR_INVALID_HANDLE);
    std::wstring wide;
    if (!is_one_component(name) || is_device_name(name) || !utf16_from_utf8(name, wide))
        return os_failure(ERROR_INVALID_NAME);
    const std::wstring path = wide_child_path(directory.path, wide);
    if (follow_link) return take_regular_file(file, open_for_reading(path, 0));
    HANDLE opened = open_for_reading(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (opened == INVALID_HANDLE_VALUE) return last_failure();
    Opened found = judge_opened(opened, directory.path, wide, false);
    if (found == Opened::reparse_point) {
        CloseHandle(opened);
        opened = open_for_reading(path, 0);
        if (opened == INVALID_HANDLE_VALUE) return last_failure();
        found = judge_opened(opened, directory.path, wide, false);
        if (found == Opened::reparse_point) found = Opened::as_named;
    }
    if (found != Opened::as_named) {
        CloseHandle(opened);
        return os_failure(error_for(found));
    }
    return take_regular_file(file, opened);
}

// One ReadFile, at most 1 GiB, which a DWORD count holds on every build.
int64_t read_input(InputFile& file, void* buffer, size_t length) {
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<size_t>(length, 1u << 30));
    if (ReadFile(as_handle(file.handle), buffer, want, &got, nullptr) == 0) return -1;
    return static_cast<int64_t>(got);
}

// ReadFile at an explicit offset: the file position is no shared state
// between reads.
int64_t read_input_at(InputFile& file, void* buffer, size_t length, int64_t offset) {
    auto* bytes = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < length) {
        OVERLAPPED at{};
        const auto position = static_cast<uint64_t>(offset) + done;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD got = 0;
        const auto want = static_cast<DWORD>(std::min<size_t>(length - done, 1u << 30));
        if (ReadFile(as_handle(file.handle), bytes + done, want, &got, &at) == 0) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<int64_t>(done);
}
