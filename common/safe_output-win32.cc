// The safe output on Windows (safe_output.h tells the contract): a temporary
// beside the final name (temporary_file-win32.h), created already marked for
// deletion when its last handle closes, so that however the program ends (a
// crash, TerminateProcess, the console window closed) Windows removes it.
// Once complete it takes its final name as a second hard link, the mark
// still on; closing it then removes only the temporary name. Where the link
// is refused, the mark comes off just before a rename by handle instead; on
// a volume where even that cannot be (volume_without_links-win32.h), the
// bytes go once into a copy whose mark can come off. This file judges the
// name and what stands there, and runs those steps in order; what the file
// is created with is file_protection-win32.h's, how it is named
// file_naming-win32.h's.

#include <windows.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "common/device_name.h"
#include "common/file_naming-win32.h"
#include "common/file_protection-win32.h"
#include "common/name_rules.h"
#include "common/safe_output_parts.h"
#include "common/safe_output_state-win32.h"
#include "common/system_call.h"
#include "common/temporary_file-win32.h"
#include "common/test_hooks.h"
#include "common/volume_without_links-win32.h"
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
        if (static_cast<unsigned char>(c) < 0x20 || kCharactersWindowsRefuses.find(c) != std::string_view::npos)
            return false;
    }
    return !is_device_name(name);
}

// The components of a name that stays inside the caller's directory: none
// absolute (a leading separator, a share, a drive), none "." or "..", and
// no colon anywhere, which would name a drive or a file's stream. Empty
// when the name is refused.
std::vector<std::string_view> inner_components(const std::string& relative_name) {
    if (relative_name.empty() || is_path_separator(relative_name.front()) || ends_in_separator(relative_name))
        return {};
    std::vector<std::string_view> components = path_components(relative_name);
    const bool inside = std::none_of(components.begin(), components.end(), [](std::string_view component) {
        return component == "." || component == ".." || component.find(':') != std::string_view::npos;
    });
    if (!inside) components.clear();
    return components;
}

enum class Existing { nothing, replaceable, regular_file, cannot_replace, other_name };

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
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Existing::replaceable
                                                                        : Existing::regular_file;
}

// Opens each subdirectory on the way as open_subdirectory does (no link or
// junction, no short name for another folder) and holds the last one until
// the file is done; then the final name, which must be storable as given.
Status reach_final_name(SafeOutputState& state, const DirectoryHandle& directory,
                        const std::vector<std::string_view>& components) {
    const DirectoryHandle* current = &directory;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        DirectoryHandle next;
        const Status opened = open_subdirectory(next, *current, std::string(components[i]));
        if (!opened) return opened;
        std::swap(next.handle, state.subdirectory.handle);
        std::swap(next.path, state.subdirectory.path);
        current = &state.subdirectory;
    }
    if (!is_storable_name(components.back()) || !utf16_from_utf8(components.back(), state.final_name))
        return failed(Failure::name_refused, ERROR_INVALID_NAME);
    state.directory_path = current->path;
    state.folder = current->handle;
    return kSucceeded;
}

// The protection the new file is created with, from what stands at its
// name: a file that replaces another gets the old file's DACL and owner; a
// copy (`source` given) as protection_for_copy says; any other file
// nothing, which leaves it its folder's inherited protection.
Status choose_protection(SafeOutputState& state, const InputFile* source) {
    DWORD attributes = 0;
    switch (examine_existing(state.directory_path, state.final_name, attributes)) {
        case Existing::other_name: return failed(Failure::cannot_replace, ERROR_FILE_EXISTS);
        case Existing::cannot_replace: return failed(Failure::cannot_replace, ERROR_ACCESS_DENIED);
        case Existing::regular_file:
            if (!read_protection_at(wide_child_path(state.directory_path, state.final_name), state.protection))
                return last_failure(Failure::cannot_replace);
            break;
        case Existing::nothing:
        case Existing::replaceable: break;
    }
    if (source != nullptr && !protection_for_copy(source->handle, state.protection))
        return last_failure(Failure::creating);
    return kSucceeded;
}

// The name is judged, and what stands at it, before the temporary is made.
Status open_output(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                   const char* temp_prefix, const InputFile* source) {
    safe_output_discard(output);
    if (!directory.is_open()) return failed(Failure::directory, ERROR_INVALID_HANDLE);
    const std::vector<std::string_view> components = inner_components(relative_name);
    if (components.empty()) return failed(Failure::name_refused, ERROR_BAD_PATHNAME);
    SafeOutputState& state = *output.state;
    Status status = reach_final_name(state, directory, components);
    if (status) status = choose_protection(state, source);
    if (!status) return discarded(output, status);
    state.marked_after_creation = marks_after_creation(state.folder);
    HANDLE created = nullptr;
    const DWORD error = create_temporary(state.directory_path, temp_prefix, state.marked_after_creation,
                                         state.protection, created, state.temp_path);
    if (error != 0) return discarded(output, failed(Failure::creating, static_cast<int>(error)));
    state.handle = created;
    return kSucceeded;
}

}  // namespace

// Temporaries on Windows always have a name; the delete-on-close mark is
// what keeps them from outliving the program.
void safe_output_use_named_temporaries(bool) {}

// As safe_output_open decides it for a file in `directory`.
bool safe_output_marks_after_creation(const DirectoryHandle& directory) {
    return marks_after_creation(directory.handle);
}

// What a test made the volumes show is forgotten with it.
void safe_output_take_volumes_as_without_links(bool without) {
    answer_as_volumes_without_links(without);
    if (!without) forget_folders_without_links();
}

// Nothing to install: Windows deletes a marked temporary however the
// program ends.
void safe_output_install_interrupt_cleanup() {}

// The platform's part is made with the output, so no call meets it missing.
SafeOutput::SafeOutput() : state(std::make_unique<SafeOutputState>()) {}

SafeOutput::~SafeOutput() { safe_output_discard(*this); }

Status safe_output_open(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                        const char* temp_prefix, unsigned /*permissions*/, int64_t /*expected_size*/) {
    return open_output(output, directory, relative_name, temp_prefix, nullptr);
}

Status safe_output_open_copy(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                             const char* temp_prefix, const InputFile& source) {
    return open_output(output, directory, relative_name, temp_prefix, &source);
}

// WriteFile until every byte is taken, at most 1 GiB at a time.
Status safe_output_write(SafeOutput& output, const void* data, size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    HANDLE file = output.state->handle == nullptr ? INVALID_HANDLE_VALUE : output.state->handle;
    while (length > 0) {
        DWORD put = 0;
        const auto want = static_cast<DWORD>(std::min<size_t>(length, 1u << 30));
        if (WriteFile(file, bytes, want, &put, nullptr) == 0) return discarded(output, last_failure(Failure::writing));
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
    if (output.state->handle == nullptr) return discarded(output, failed(Failure::writing, ERROR_INVALID_HANDLE));
    if (offset < 0) return discarded(output, failed(Failure::reading, ERROR_INVALID_PARAMETER));
    return copy_by_blocks(output, source, offset, length);
}

namespace {

// A name refused for `error`: Failure::cannot_replace where a directory or
// a read-only file appeared there since it was judged, else Failure::naming.
Status not_placed(const SafeOutputState& state, DWORD error) {
    DWORD attributes = 0;
    const bool blocked = examine_existing(state.directory_path, state.final_name, attributes) == Existing::cannot_replace;
    return failed(blocked ? Failure::cannot_replace : Failure::naming, static_cast<int>(error));
}

// What stands at the final name, judged again at the last moment, as on
// POSIX, with the attributes a replaced file hands on in `attributes`.
Status judge_final_name(const SafeOutputState& state, DWORD& attributes) {
    switch (examine_existing(state.directory_path, state.final_name, attributes)) {
        case Existing::cannot_replace: return failed(Failure::cannot_replace, ERROR_ACCESS_DENIED);
        case Existing::other_name: return failed(Failure::naming, ERROR_FILE_EXISTS);
        case Existing::nothing:
        case Existing::replaceable:
        case Existing::regular_file: break;
    }
    return kSucceeded;
}

// Gives the new file the attributes the replaced one hands on (times of 0
// stay as they are).
Status keep_attributes(HANDLE file, DWORD attributes) {
    if (attributes == 0) return kSucceeded;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes | FILE_ATTRIBUTE_ARCHIVE;
    if (SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) == 0)
        return last_failure(Failure::naming);
    return kSucceeded;
}

// A temporary whose mark can come off: the mark taken off, then the rename
// by handle, which reports what it meets. Without the first, closing the
// file would remove it from under its final name.
Status unmark_and_rename(const SafeOutputState& state, const std::wstring& final_path) {
    if (!set_delete_on_close(state.handle, false)) return last_failure(Failure::naming);
    if (!rename_by_handle(state.handle, final_path)) return not_placed(state, GetLastError());
    return kSucceeded;
}

// Where the link is refused: the mark of creation taken off and a rename;
// or, where the volume has no hard links and the mark cannot come off, a
// copy that can be marked, renamed the same way. A link refused for any
// other reason (the file at the name open in another program) is that
// file's failure alone, and changes nothing for the files after it.
Status place_without_link(SafeOutputState& state, const std::wstring& final_path, DWORD link_error,
                          DWORD attributes) {
    if (clear_mark_of_creation(state.handle)) {
        if (!rename_by_handle(state.handle, final_path)) return not_placed(state, GetLastError());
        return kSucceeded;
    }
    if (!volume_lacks_hard_links(state.handle, link_error)) return not_placed(state, link_error);
    Status status = make_markable_copy(state);
    if (status) status = keep_attributes(state.handle, attributes);
    if (status) status = unmark_and_rename(state, final_path);
    return status;
}

// Through the steps in order: the name judged, the attributes kept, then
// the link by handle, its mark still on, so that from creation to the end
// no moment leaves the temporary behind a killed program; on a volume known
// to take no link, unmark and rename at once.
Status place_file(SafeOutputState& state) {
    DWORD attributes = 0;
    Status status = judge_final_name(state, attributes);
    if (status) status = keep_attributes(state.handle, attributes);
    if (!status) return status;
    const std::wstring final_path = wide_child_path(state.directory_path, state.final_name);
    if (state.marked_after_creation) return unmark_and_rename(state, final_path);
    const DWORD link_error = link_by_handle(state.handle, final_path);
    if (link_error == 0) return kSucceeded;
    return place_without_link(state, final_path, link_error, attributes);
}

}  // namespace

// Closing the placed file removes its temporary name, or (renamed) nothing.
// On a failure the file is discarded, which marks it again first.
Status safe_output_commit(SafeOutput& output) {
    SafeOutputState& state = *output.state;
    const Status placed = state.handle == nullptr ? failed(Failure::naming, ERROR_INVALID_HANDLE) : place_file(state);
    if (placed) {
        CloseHandle(state.handle);
        state.handle = nullptr;
        state.temp_path.clear();
    }
    safe_output_discard(output);
    return placed;
}

// The mark is set again before closing, in case a failed commit had taken it
// off; should that fail, the temporary is removed by name.
void safe_output_discard(SafeOutput& output) {
    SafeOutputState& state = *output.state;
    if (state.handle != nullptr) {
        const bool marked = set_delete_on_close(state.handle, true);
        CloseHandle(state.handle);
        state.handle = nullptr;
        if (!marked && !state.temp_path.empty()) DeleteFileW(state.temp_path.c_str());
    }
    state.temp_path.clear();
    state.final_name.clear();
    state.directory_path.clear();
    state.protection.clear();
    state.marked_after_creation = false;
    state.folder = nullptr;
    close_quietly(state.subdirectory.handle);
    state.subdirectory.path.clear();
}
