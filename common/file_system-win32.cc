// Directories, their listings and the files read, on Windows. Paths reach Windows as UTF-16 through the
// wide calls, made absolute once and in the \\?\ form, so that Windows takes
// every name literally and at any length: no best-fit conversion, no
// trailing dots or blanks dropped, no short name resolved behind the
// program's back, no 260-character limit. The active code page is met only
// at the edges (the console and archive entry names), and every conversion
// there is exact or refused.

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "common/device_name.h"
#include "common/directory.h"
#include "common/input_file.h"
#include "common/system_call.h"
#include "common/wide_path-win32.h"

namespace {

// A directory is held open without FILE_SHARE_DELETE: while the program
// works in it, it cannot be renamed, removed or replaced, so the path kept
// with the handle goes on leading to it.
constexpr DWORD kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kDirectoryShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A handle field as the calls take it: null, never opened, reads as invalid.
HANDLE as_handle(void* handle) { return handle == nullptr ? INVALID_HANDLE_VALUE : handle; }

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
    if (!find_listed(directory, name, listed)) return Opened::elsewhere;
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

// Whether the file system itself shows the handle to be on a regular file:
// no directory or device, and a name on its volume, which a volume opened
// whole lacks (GetFileType says FILE_TYPE_DISK for volumes too). A file
// system that cannot tell the name is not held against the file.
bool is_regular_file_handle(HANDLE opened) {
    FILE_STANDARD_INFO standard{};
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(opened, FileStandardInfo, &standard, sizeof standard) == 0 ||
        standard.Directory != FALSE ||
        GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &tag, sizeof tag) == 0 ||
        (tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return false;
    struct {
        FILE_NAME_INFO info;
        wchar_t more[MAX_PATH];
    } name{};
    const bool told = GetFileInformationByHandleEx(opened, FileNameInfo, &name, sizeof name) != 0 ||
                      GetLastError() == ERROR_MORE_DATA;
    return !told || name.info.FileNameLength > 0;
}

// Takes an opened handle as a regular input file, or refuses and closes it:
// a directory, device, volume or pipe is not a file to read whole.
Status take_regular_file(InputFile& file, HANDLE opened) {
    if (opened == INVALID_HANDLE_VALUE) return last_failure(Failure::reading);
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER size;
    int error = 0;
    if (GetFileType(opened) != FILE_TYPE_DISK)
        error = ERROR_BAD_FILE_TYPE;
    else if (GetFileInformationByHandle(opened, &info) == 0 || GetFileSizeEx(opened, &size) == 0)
        error = static_cast<int>(GetLastError());
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !is_regular_file_handle(opened))
        error = ERROR_BAD_FILE_TYPE;
    if (error != 0) {
        CloseHandle(opened);
        return failed(Failure::reading, error);
    }
    file.handle = opened;
    file.size = static_cast<int64_t>(size.QuadPart);
    return kSucceeded;
}

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

// Closes the file, if one was opened.
InputFile::~InputFile() { close_quietly(handle); }

// The archive named by the user: a device name, or a name ending in a
// separator, is never a file to read.
Status open_input_file(InputFile& file, const std::string& path) {
    close_quietly(file.handle);
    if (names_a_device(path) || ends_in_separator(path)) return failed(Failure::reading, ERROR_INVALID_NAME);
    std::wstring system;
    const Status converted = system_path(path, system);
    if (!converted) return converted;
    return take_regular_file(file, open_for_reading(system, 0));
}

// Without `follow_link`, a link or junction at the name is refused even if
// the listing saw none there; a reparse point that is no link (a cloud
// placeholder) is opened again without FILE_FLAG_OPEN_REPARSE_POINT, so its
// contents are read rather than the placeholder's.
Status open_input_file_at(InputFile& file, const DirectoryHandle& directory, const std::string& name,
                          bool follow_link) {
    close_quietly(file.handle);
    if (!directory.is_open()) return failed(Failure::directory, ERROR_INVALID_HANDLE);
    std::wstring wide;
    if (!is_one_component(name) || is_device_name(name) || !utf16_from_utf8(name, wide))
        return failed(Failure::reading, ERROR_INVALID_NAME);
    const std::wstring path = wide_child_path(directory.path, wide);
    if (follow_link) return take_regular_file(file, open_for_reading(path, 0));
    HANDLE opened = open_for_reading(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (opened == INVALID_HANDLE_VALUE) return last_failure(Failure::reading);
    Opened found = judge_opened(opened, directory.path, wide, false);
    if (found == Opened::reparse_point) {
        CloseHandle(opened);
        opened = open_for_reading(path, 0);
        if (opened == INVALID_HANDLE_VALUE) return last_failure(Failure::reading);
        found = judge_opened(opened, directory.path, wide, false);
        if (found == Opened::reparse_point) found = Opened::as_named;
    }
    if (found != Opened::as_named) {
        CloseHandle(opened);
        return failed(Failure::reading, error_for(found));
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

// The file system's allocated ranges (NTFS keeps them for sparse files and
// reports the whole file for others); a file system that keeps none, or a
// query past the end, claims no hole.
int64_t next_data_at(InputFile& file, int64_t offset) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(as_handle(file.handle), &size) == 0 || offset >= size.QuadPart) return offset;
    FILE_ALLOCATED_RANGE_BUFFER query{};
    query.FileOffset.QuadPart = offset;
    query.Length.QuadPart = size.QuadPart - offset;
    FILE_ALLOCATED_RANGE_BUFFER first{};
    DWORD returned = 0;
    if (DeviceIoControl(as_handle(file.handle), FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, &first,
                        sizeof first, &returned, nullptr) == 0 &&
        GetLastError() != ERROR_MORE_DATA)
        return offset;
    if (returned < sizeof first) return INT64_MAX;
    return std::max(offset, static_cast<int64_t>(first.FileOffset.QuadPart));
}
