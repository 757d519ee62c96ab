// The platform layer on Windows, through the ANSI (active code page) API.

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "common/device_name.h"
#include "common/platform.h"
#include "common/platform_shared.h"
#include "common/wildcard.h"

namespace {

HANDLE as_handle(void* handle) { return handle == nullptr ? INVALID_HANDLE_VALUE : handle; }

void close_quietly(void*& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}

// Splits a path into its components at '\' and '/', reading a double-byte
// character of the active code page as one: its trail byte may be 0x5C, the
// byte of '\', without being a separator. A separator at the end gives an
// empty last component; a drive ("C:") stays in the first one.
std::vector<std::string> split_components(const std::string& path) {
    std::vector<std::string> components(1);
    for (size_t at = 0; at < path.size(); ++at) {
        const char c = path[at];
        if (IsDBCSLeadByte(static_cast<BYTE>(c)) != 0 && at + 1 < path.size()) {
            components.back() += c;
            components.back() += path[++at];
        } else if (c == '\\' || c == '/') {
            components.emplace_back();
        } else {
            components.back() += c;
        }
    }
    return components;
}

std::string join(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (split_components(directory).back().empty()) return directory + name;
    return directory + "\\" + name;
}

// A path whose last component names a device ("dir\\nul.txt" is NUL, and
// so is "C:nul"): reading or replacing one must never be attempted.
bool is_reserved_device_name(const std::string& path) {
    const std::string base = split_components(path).back();
    const size_t colon = base.find(':');
    return is_device_name(colon == std::string::npos ? std::string_view(base)
                                                     : std::string_view(base).substr(colon + 1));
}

// A directory that is really there and is not a junction or a link.
bool is_plain_directory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

bool is_path_separator(char c) { return c == '\\' || c == '/'; }

bool list_directory(const std::string& directory, const std::string& pattern,
                    std::vector<DirEntry>& entries) {
    entries.clear();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(join(directory, pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // Nothing matching in a readable directory is an empty listing.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
    }
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        // The system also matches 8.3 short names ("*.bmp" finds a.bmpx):
        // only the long name counts here.
        if (!match_wildcard(pattern, name)) continue;
        DirEntry entry{name, EntryKind::regular, false};
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            entry.kind = EntryKind::directory;
        else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0)
            entry.kind = EntryKind::other;
        entry.is_link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries.push_back(std::move(entry));
    } while (FindNextFileA(search, &found) != 0);
    FindClose(search);
    // NTFS returns names roughly in this order, FAT and Wine in creation or
    // host order: sorting makes the walk's report the same everywhere.
    std::sort(entries.begin(), entries.end(), listing_order);
    return true;
}

// GetFileAttributesA rather than FindFirstFileA: a search fails on a drive
// root ("C:\") and on a trailing '\', and would take '*' and '?' in the
// path as wildcards, while the attributes lookup takes the path literally.
PathKind probe_path(const std::string& path) {
    if (path.empty()) return PathKind::missing;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::directory : PathKind::other;
}

bool create_directory(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool is_lead_byte(unsigned char value) { return IsDBCSLeadByte(value) != 0; }

// Arguments reach main exactly as typed: the C runtime must not expand
// wildcards in them, or "scrambler *" would become a list of names.
extern "C" {
int _dowildcard = 0;
}

// Standard output in binary mode: the programs write "\n" alone, the same
// bytes as on Linux, rather than the text mode's "\r\n". Standard input
// stays in text mode, so Enter at a console ("\r\n") is one key to the
// pause. A missing drive gives an error, not a system dialog box.
void init_process() {
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

InputFile::~InputFile() { close_quietly(handle); }

bool open_input_file(InputFile& file, const std::string& path) {
    close_quietly(file.handle);
    if (is_reserved_device_name(path)) return false;
    HANDLE opened = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return false;
    // Devices (CON, NUL, COM1...) and pipes are not files to read whole.
    if (GetFileType(opened) != FILE_TYPE_DISK) {
        CloseHandle(opened);
        return false;
    }
    file.handle = opened;
    return true;
}

int64_t input_file_size(InputFile& file) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(as_handle(file.handle), &size) == 0) return -1;
    return static_cast<int64_t>(size.QuadPart);
}

int64_t read_input(InputFile& file, void* buffer, size_t length) {
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<size_t>(length, 1u << 30));
    if (ReadFile(as_handle(file.handle), buffer, want, &got, nullptr) == 0) return -1;
    return static_cast<int64_t>(got);
}

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

SafeOutput::~SafeOutput() { safe_output_discard(*this); }

OutputDirectory::~OutputDirectory() = default;

// Only the path is kept: each file's checks here go by path anyway, and an
// open handle would keep the user from renaming the directory meanwhile.
bool open_output_directory(OutputDirectory& directory, const std::string& path) {
    directory.path = path;
    const DWORD attributes = GetFileAttributesA(path.empty() ? "." : path.c_str());
    directory.is_open = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return directory.is_open;
}

bool safe_output_open_at(SafeOutput& output, OutputDirectory& directory,
                         const std::string& relative_name, const char* temp_prefix) {
    if (!directory.is_open) {
        safe_output_discard(output);
        return false;
    }
    return safe_output_open(output, directory.path, relative_name, temp_prefix);
}

bool safe_output_open(SafeOutput& output, const std::string& directory,
                      const std::string& relative_name, const char* temp_prefix) {
    safe_output_discard(output);
    std::vector<std::string> components = split_components(relative_name);
    const std::string current = components.back();
    components.pop_back();
    if (current.empty()) return false;
    std::string parent = directory;
    for (const std::string& component : components) {
        if (component.empty()) continue;
        parent = join(parent, component);
        // A junction or link standing as a subdirectory could lead anywhere.
        if (!is_plain_directory(parent)) return false;
    }
    const std::string final_path = join(parent, current);
    if (is_reserved_device_name(final_path)) return false;
    const DWORD existing = GetFileAttributesA(final_path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp_path = join(parent, temporary_name(temp_prefix));
        HANDLE created = CreateFileA(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) {
            output.handle = created;
            output.temp_path = temp_path;
            output.final_path = final_path;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return false;
}

bool safe_output_write(SafeOutput& output, const void* data, size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        DWORD put = 0;
        const auto want = static_cast<DWORD>(std::min<size_t>(length, 1u << 30));
        if (WriteFile(as_handle(output.handle), bytes, want, &put, nullptr) == 0 || put == 0)
            return false;
        bytes += put;
        length -= put;
    }
    return true;
}

bool safe_output_copy_from(SafeOutput& output, InputFile& source, int64_t offset,
                           int64_t length) {
    if (length <= 0) return true;
    if (offset < 0) return false;
    return copy_by_blocks(output, source, offset, length);
}

CommitResult safe_output_finish(SafeOutput& output) {
    if (output.handle == nullptr) return CommitResult::failed;
    const BOOL closed = CloseHandle(output.handle);
    output.handle = nullptr;
    if (closed == 0 || MoveFileExA(output.temp_path.c_str(), output.final_path.c_str(),
                                   MOVEFILE_REPLACE_EXISTING) == 0) {
        // A directory that appeared at the name since opening.
        const DWORD existing = GetFileAttributesA(output.final_path.c_str());
        const bool directory_in_the_way = closed != 0 && existing != INVALID_FILE_ATTRIBUTES &&
                                          (existing & FILE_ATTRIBUTE_DIRECTORY) != 0;
        safe_output_discard(output);
        return directory_in_the_way ? CommitResult::directory_in_the_way : CommitResult::failed;
    }
    output.temp_path.clear();
    return CommitResult::committed;
}

bool safe_output_commit(SafeOutput& output) {
    return safe_output_finish(output) == CommitResult::committed;
}

void safe_output_discard(SafeOutput& output) {
    close_quietly(output.handle);
    if (!output.temp_path.empty()) DeleteFileA(output.temp_path.c_str());
    output.temp_path.clear();
}
