// Directories and their listings on Windows (directory.h). Paths reach
// Windows as UTF-16 through the wide calls, made absolute once and in the
// \\?\ form, so that Windows takes every name literally and at any length:
// no best-fit conversion, no trailing dots or blanks dropped, no short name
// resolved behind the program's back, no 260-character limit. The active
// code page is met only at the edges (the console and archive entry names),
// and every conversion there is exact or refused.

#include <windows.h>

#include <string_view>

#include "common/directory.h"
#include "common/opened_name-win32.h"
#include "common/system_call.h"
#include "common/wide_path-win32.h"

namespace {

// A directory is held open without FILE_SHARE_DELETE: while the program
// works in it, it cannot be renamed, removed or replaced, so the path kept
// with the handle goes on leading to it.
constexpr DWORD kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kDirectoryShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

}  // namespace

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
Status create_directory(const std::string& path) {
    std::wstring system;
    const Status converted = system_path(path, system);
    if (!converted) return converted;
    return CreateDirectoryW(system.c_str(), nullptr) != 0 ? kSucceeded : last_failure(Failure::creating);
}

// Lets the directory be renamed or removed again.
DirectoryHandle::~DirectoryHandle() { close_quietly(handle); }

// Whether a directory is held.
bool DirectoryHandle::is_open() const { return handle != nullptr; }

// Lets go of what `directory` held and turns `path` (empty for the current
// directory) into the form the system opens.
namespace {
Status start_opening(DirectoryHandle& directory, const std::string& path, std::wstring& system) {
    close_quietly(directory.handle);
    directory.path.clear();
    return system_path(path.empty() ? std::string(".") : path, system);
}
}  // namespace

// The user's directory, reached through any link or junction on its path;
// from then on it is known by the path Windows reports for it, so a link on
// the way that is changed later leads nothing astray.
Status open_directory(DirectoryHandle& directory, const std::string& path) {
    std::wstring system;
    const Status converted = start_opening(directory, path, system);
    if (!converted) return converted;
    HANDLE opened = CreateFileW(system.c_str(), kDirectoryAccess, kDirectoryShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return last_failure(Failure::directory);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(opened, &info) == 0 || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(opened);
        return failed(Failure::directory, ERROR_DIRECTORY);
    }
    directory.handle = opened;
    directory.path = pinned_path(opened, system);
    return kSucceeded;
}

// The folder is opened as itself with FILE_FLAG_OPEN_REPARSE_POINT, and a
// link or junction found there is refused (see judge_opened); the path up
// to it is read as open_directory reads it. A reparse point that is no link
// (a cloud folder) is the folder itself.
Status open_derived_directory(DirectoryHandle& directory, const std::string& path) {
    std::wstring system;
    const Status converted = start_opening(directory, path, system);
    if (!converted) return converted;
    const size_t cut = system.rfind(L'\\');
    if (cut == std::wstring::npos || cut + 1 == system.size()) return failed(Failure::directory, ERROR_INVALID_NAME);
    HANDLE opened = CreateFileW(system.c_str(), kDirectoryAccess, kDirectoryShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return last_failure(Failure::directory);
    // The parent keeps its separator, so a drive's root stays one.
    const Opened found = judge_opened(opened, system.substr(0, cut + 1), system.substr(cut + 1), true);
    if (found != Opened::as_named && found != Opened::reparse_point) {
        CloseHandle(opened);
        return failed(Failure::directory, error_for(found));
    }
    directory.handle = opened;
    directory.path = pinned_path(opened, system);
    return kSucceeded;
}

// FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction standing at the
// name as itself, and it is refused, whenever it was put there; so is a
// short name standing for another folder (see judge_opened).
Status open_subdirectory(DirectoryHandle& child, const DirectoryHandle& parent, const std::string& name) {
    close_quietly(child.handle);
    child.path.clear();
    if (!parent.is_open()) return failed(Failure::directory, ERROR_INVALID_HANDLE);
    std::wstring wide;
    if (!is_one_component(name) || !utf16_from_utf8(name, wide)) return failed(Failure::directory, ERROR_INVALID_NAME);
    std::wstring path = wide_child_path(parent.path, wide);
    HANDLE opened = CreateFileW(path.c_str(), kDirectoryAccess, kDirectoryShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return last_failure(Failure::directory);
    const Opened found = judge_opened(opened, parent.path, wide, true);
    // A reparse point that is no link (a cloud folder) is the folder itself.
    if (found != Opened::as_named && found != Opened::reparse_point) {
        CloseHandle(opened);
        return failed(Failure::directory, error_for(found));
    }
    child.handle = opened;
    child.path = std::move(path);
    return kSucceeded;
}

// Every name in the directory, each converted exactly; the search runs on
// the \\?\ path, so names are listed as stored, whatever they hold.
Status list_directory(const DirectoryHandle& directory, DirListing& listing) {
    listing.names.clear();
    listing.entries.clear();
    if (!directory.is_open()) return failed(Failure::reading, ERROR_INVALID_HANDLE);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(wide_child_path(directory.path, L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        // A drive's root has no "." or "..": when it is empty, nothing matches.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? kSucceeded : failed(Failure::reading, static_cast<int>(error));
    }
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        EntryKind kind = EntryKind::regular;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            kind = EntryKind::directory;
        else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0)
            kind = EntryKind::other;
        if (!add_listed_entry(listing, utf8_from_utf16(name), kind,
                              is_link_attribute(found.dwFileAttributes, found.dwReserved0))) {
            SetLastError(ERROR_BUFFER_OVERFLOW);
            break;
        }
    } while (FindNextFileW(search, &found) != 0);
    const DWORD error = GetLastError();
    FindClose(search);
    // NTFS returns names roughly in this order, FAT and Wine in creation or
    // host order: sorting makes the walk's report the same everywhere.
    sort_listing(listing);
    return error == ERROR_NO_MORE_FILES ? kSucceeded : failed(Failure::reading, static_cast<int>(error));
}
