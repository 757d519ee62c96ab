// The files read on Windows (input_file.h): the archive named by the user
// and the sources found in a walk, each taken only once its handle shows a
// regular file, and read by position where the reader asks for one.

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "common/device_name.h"
#include "common/directory.h"
#include "common/input_file.h"
#include "common/opened_name-win32.h"
#include "common/system_call.h"
#include "common/wide_path-win32.h"

namespace {

// A handle field as the calls take it: null, never opened, reads as invalid.
HANDLE as_handle(void* handle) { return handle == nullptr ? INVALID_HANDLE_VALUE : handle; }

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
