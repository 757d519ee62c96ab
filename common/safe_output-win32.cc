// The safe output on Windows (safe_output.h tells the contract): a temporary
// beside the final name, marked for deletion from the moment it is created,
// so that however the program ends (a crash, TerminateProcess, the console
// window closed) Windows removes it; once complete it is unmarked and
// renamed over the final name through its own handle.

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/device_name.h"
#include "common/safe_output_parts.h"
#include "common/system_call.h"
#include "common/test_hooks.h"
#include "common/wide_path-win32.h"

namespace {

// What Windows has where POSIX has permission bits, beyond read-only (a
// read-only file is not replaced at all): a hidden or system file stays so
// when a new version takes its place.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Whether a file can be stored under exactly this name: Windows refuses
// <>:"|?* and control characters, would open a device for CON, NUL, COM1 and
// the like, and (but for the \\?\ form, which Explorer cannot follow) would
// take trailing dots and blanks off. Found at open, before any byte is
// written, rather than when the finished file is renamed.
bool is_storable_name(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.back() == '.' || name.back() == ' ') return false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            return false;
    }
    return !is_device_name(name);
}

// Marks the open file to be deleted when its last handle closes, or takes
// the mark off.
bool set_delete_on_close(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

enum class Existing { nothing, replaceable, cannot_replace, other_name };

// What stands at `name` in `directory`: nothing; a file that may be replaced
// (with the attributes it hands on, in `attributes`); a directory or a
// read-only file, which are not replaced; or a file that answers to the name
// but is stored under another (its 8.3 short name), which writing would
// replace although the archive or the walk meant a different file.
Existing examine_existing(const std::wstring& directory, const std::wstring& name, DWORD& attributes) {
    attributes = 0;
    WIN32_FIND_DATAW found;
    if (!find_listed(directory, name, found)) return Existing::nothing;
    if (!same_name_ignoring_case(found.cFileName, name)) return Existing::other_name;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return Existing::cannot_replace;
    attributes = found.dwFileAttributes & kKeptAttributes;
    return Existing::replaceable;
}

// Gives the open file `path` as its name, replacing a file or a link there
// (the link itself, never what it leads to). Through the handle: no second
// open, and the file being written is the one renamed.
bool rename_by_handle(HANDLE file, const std::wstring& path) {
    const size_t name_bytes = path.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(rename->FileName, path.data(), name_bytes);
    return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
}

// Discards the output and hands on the failure.
Status discarded(SafeOutput& output, Status status) {
    safe_output_discard(output);
    return status;
}

}  // namespace

// Temporaries on Windows always have a name; the delete-on-close mark is
// what keeps them from outliving the program.
void safe_output_use_named_temporaries(bool) {}

// Nothing to install: Windows deletes a marked temporary however the
// program ends.
void safe_output_install_interrupt_cleanup() {}

// Each subdirectory on the way is opened as open_subdirectory does (no link
// or junction, no short name for another folder) and the last one held until
// the file is done; the final name is judged before the temporary is made.
// Windows has no permission bits to pass on: a new file takes its folder's
// inherited access rights.
Status safe_output_open(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                        const char* temp_prefix, unsigned /*permissions*/) {
    safe_output_discard(output);
    if (!directory.is_open()) return failed(Failure::directory, ERROR_INVALID_HANDLE);
    std::vector<std::string_view> components = path_components(relative_name);
    // "." names the directory it stands in, as on POSIX.
    std::erase(components, std::string_view("."));
    if (components.empty() || ends_in_separator(relative_name)) return failed(Failure::name_refused, ERROR_DIRECTORY);

    const DirectoryHandle* current = &directory;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        DirectoryHandle next;
        const Status opened = open_subdirectory(next, *current, std::string(components[i]));
        if (!opened) return discarded(output, opened);
        std::swap(next.handle, output.subdirectory.handle);
        std::swap(next.path, output.subdirectory.path);
        current = &output.subdirectory;
    }
    std::wstring final_name;
    if (!is_storable_name(components.back()) || !utf16_from_utf8(components.back(), final_name))
        return discarded(output, failed(Failure::name_refused, ERROR_INVALID_NAME));
    output.directory_path = current->path;
    output.final_name = std::move(final_name);
    DWORD attributes = 0;
    switch (examine_existing(output.directory_path, output.final_name, attributes)) {
        case Existing::other_name: return discarded(output, failed(Failure::cannot_replace, ERROR_FILE_EXISTS));
        case Existing::cannot_replace: return discarded(output, failed(Failure::cannot_replace, ERROR_ACCESS_DENIED));
        case Existing::nothing:
        case Existing::replaceable: break;
    }

    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring temp_name;
        if (!utf16_from_utf8(temporary_name(temp_prefix), temp_name))
            return discarded(output, failed(Failure::creating, ERROR_INVALID_NAME));
        std::wstring temp_path = wide_child_path(output.directory_path, temp_name);
        // CREATE_NEW: whatever already stands at the name, link or file, is
        // never opened. No sharing: nobody else reads a half-written file.
        HANDLE created = CreateFileW(temp_path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return discarded(output, failed(Failure::creating, static_cast<int>(error)));
        }
        output.handle = created;
        output.temp_path = std::move(temp_path);
        if (!set_delete_on_close(created, true)) return discarded(output, last_failure(Failure::creating));
        return kSucceeded;
    }
    return discarded(output, failed(Failure::creating, ERROR_FILE_EXISTS));
}

// WriteFile until every byte is taken, at most 1 GiB at a time.
Status safe_output_write(SafeOutput& output, const void* data, size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        DWORD put = 0;
        const auto want = static_cast<DWORD>(std::min<size_t>(length, 1u << 30));
        if (WriteFile(output.handle == nullptr ? INVALID_HANDLE_VALUE : output.handle, bytes, want, &put,
                      nullptr) == 0)
            return discarded(output, last_failure(Failure::writing));
        // A write that takes nothing and reports no error would loop for
        // ever; it is an error like any other.
        if (put == 0) return discarded(output, failed(Failure::writing, 0));
        bytes += put;
        length -= put;
    }
    return kSucceeded;
}

// Windows has no in-kernel copy between open handles worth the name for
// ranges of an archive: the portable block copy serves.
Status safe_output_copy_from(SafeOutput& output, InputFile& source, int64_t offset, int64_t length) {
    if (length <= 0) return kSucceeded;
    if (output.handle == nullptr) return discarded(output, failed(Failure::writing, ERROR_INVALID_HANDLE));
    if (offset < 0) return discarded(output, failed(Failure::reading, ERROR_INVALID_PARAMETER));
    return copy_by_blocks(output, source, offset, length);
}

// What stands at the final name is judged again at the last moment, as on
// POSIX; then the mark comes off and the file takes its name by handle. On
// a failure it is discarded, which marks it again first.
Status safe_output_commit(SafeOutput& output) {
    if (output.handle == nullptr) return discarded(output, failed(Failure::naming, ERROR_INVALID_HANDLE));
    DWORD attributes = 0;
    switch (examine_existing(output.directory_path, output.final_name, attributes)) {
        case Existing::cannot_replace: return discarded(output, failed(Failure::cannot_replace, ERROR_ACCESS_DENIED));
        case Existing::other_name: return discarded(output, failed(Failure::naming, ERROR_FILE_EXISTS));
        case Existing::nothing:
        case Existing::replaceable: break;
    }
    if (attributes != 0) {
        FILE_BASIC_INFO basic{};  // times of 0 stay as they are
        basic.FileAttributes = attributes | FILE_ATTRIBUTE_ARCHIVE;
        if (SetFileInformationByHandle(output.handle, FileBasicInfo, &basic, sizeof basic) == 0)
            return discarded(output, last_failure(Failure::naming));
    }
    if (!set_delete_on_close(output.handle, false)) return discarded(output, last_failure(Failure::naming));
    if (!rename_by_handle(output.handle, wide_child_path(output.directory_path, output.final_name))) {
        const DWORD error = GetLastError();
        // A directory or a read-only file that appeared since it was judged.
        const bool blocked =
            examine_existing(output.directory_path, output.final_name, attributes) == Existing::cannot_replace;
        return discarded(output, failed(blocked ? Failure::cannot_replace : Failure::naming, static_cast<int>(error)));
    }
    CloseHandle(output.handle);
    output.handle = nullptr;
    output.temp_path.clear();
    safe_output_discard(output);
    return kSucceeded;
}

// The mark is set again before closing, in case a failed commit had taken it
// off; should that fail, the temporary is removed by name.
void safe_output_discard(SafeOutput& output) {
    if (output.handle != nullptr) {
        const bool marked = set_delete_on_close(output.handle, true);
        CloseHandle(output.handle);
        output.handle = nullptr;
        if (!marked && !output.temp_path.empty()) DeleteFileW(output.temp_path.c_str());
    }
    output.temp_path.clear();
    output.final_name.clear();
    output.directory_path.clear();
    close_quietly(output.subdirectory.handle);
    output.subdirectory.path.clear();
}
