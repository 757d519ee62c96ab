// The safe output on Windows (safe_output.h tells the contract): a temporary
// beside the final name, created already marked for deletion when its last
// handle closes, so that however the program ends (a crash, TerminateProcess,
// the console window closed) Windows removes it. Once complete it takes its
// final name as a second hard link, the mark still on; closing it then
// removes only the temporary name. Where the volume has no hard links (FAT,
// exFAT), the mark comes off just before a rename by handle instead.

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/device_name.h"
#include "common/name_rules.h"
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
        if (static_cast<unsigned char>(c) < 0x20 || kCharactersWindowsRefuses.find(c) != std::string_view::npos)
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

// Takes off the delete-on-close mark the file was created with, which only
// FileDispositionInfoEx can (Windows 10 1809 and later); false where the
// system lacks it, as older ones and Wine do.
bool clear_mark_of_creation(HANDLE file) {
    struct {
        DWORD Flags;
    } disposition{0x8};  // FILE_DISPOSITION_FLAG_ON_CLOSE without ..._DELETE
    return SetFileInformationByHandle(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(21) /* FileDispositionInfoEx */,
                                      &disposition, sizeof disposition) != 0;
}

// The volumes, by serial number, seen to take neither a hard link nor the
// taking off of the mark (FAT or exFAT before Windows 10 1809): later
// temporaries there are created unmarked and marked at once after, so that
// their mark can come off before the rename. Kept per volume: a USB stick
// met once changes nothing for the files of any other volume.
std::vector<DWORD> g_volumes_marked_after_creation;

// The serial number of the volume that holds the open file or directory.
bool volume_serial(HANDLE file, DWORD& serial) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(file, &information) == 0) return false;
    serial = information.dwVolumeSerialNumber;
    return true;
}

// Whether temporaries on the volume of `file` are marked after creation.
bool marks_after_creation(HANDLE file) {
    if (g_volumes_marked_after_creation.empty()) return false;
    DWORD serial = 0;
    return volume_serial(file, serial) && std::find(g_volumes_marked_after_creation.begin(),
                                                    g_volumes_marked_after_creation.end(),
                                                    serial) != g_volumes_marked_after_creation.end();
}

// Whether a link refused with `link_error` says that the volume of the open
// file has no hard links at all (FAT, exFAT), rather than refusing this one
// file (ERROR_ACCESS_DENIED when the file at its name is open in another
// program). Only a refusal as unsupported says so, and never on a volume
// that reports hard links (NTFS); not every system reports them (Wine).
bool volume_lacks_hard_links(HANDLE file, DWORD link_error) {
    DWORD flags = 0;
    if (GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != 0 &&
        (flags & FILE_SUPPORTS_HARD_LINKS) != 0)
        return false;
    return link_error == ERROR_NOT_SUPPORTED || link_error == ERROR_INVALID_FUNCTION ||
           link_error == ERROR_INVALID_PARAMETER || link_error == ERROR_CALL_NOT_IMPLEMENTED;
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

// Gives the open file `path` as a second name, a hard link, replacing a file
// or a link there (the link itself) as a rename would. Windows offers this
// only below its own API, as NtSetInformationFile's FileLinkInformation.
// 0, or the system's error for the refusal.
DWORD link_by_handle(HANDLE file, const std::wstring& path) {
    using SetInformation = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, int);
    using ErrorOfStatus = ULONG(WINAPI*)(LONG);
    static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto set_information =
        reinterpret_cast<SetInformation>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
    static const auto error_of_status =
        reinterpret_cast<ErrorOfStatus>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    if (set_information == nullptr || error_of_status == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
    // The kernel's name for a \\?\ path begins \??\ instead.
    const std::wstring nt_path = L"\\?" "?\\" + path.substr(4);
    const size_t name_bytes = nt_path.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);  // FILE_LINK_INFORMATION's layout
    auto* link = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    link->ReplaceIfExists = TRUE;
    link->RootDirectory = nullptr;
    link->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(link->FileName, nt_path.data(), name_bytes);
    ULONG_PTR io_status[2] = {};
    const LONG status = set_information(file, io_status, buffer.data(), static_cast<ULONG>(buffer.size()),
                                        11 /* FileLinkInformation */);
    return status >= 0 ? 0 : static_cast<DWORD>(error_of_status(status));
}

// The replaced file's protection, read through the file itself (never
// through a link standing there): its DACL and owner, as writing into it
// would have kept them. False where they cannot be read, and then it is
// not replaced rather than given the folder's protection.
bool read_protection_of(const std::wstring& path, std::vector<unsigned char>& descriptor) {
    HANDLE file = CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool read = read_protection(file, true, descriptor);
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return read;
}

// Whether the open file `file` has the owner that `protection` names; false
// where either cannot be read.
bool same_owner(HANDLE file, const std::vector<unsigned char>& protection) {
    std::vector<unsigned char> own;
    if (!read_protection(file, true, own)) return false;
    PSID owner = nullptr;
    PSID other = nullptr;
    BOOL defaulted = FALSE;
    auto* theirs = const_cast<unsigned char*>(protection.data());
    return GetSecurityDescriptorOwner(own.data(), &owner, &defaulted) != 0 && owner != nullptr &&
           GetSecurityDescriptorOwner(theirs, &other, &defaulted) != 0 && other != nullptr &&
           EqualSid(owner, other) != 0;
}

// `protection` less its owner, for a process that may not give a file that
// owner: the DACL alone, with its inheritance flags, in an absolute
// descriptor pointing into `protection`.
bool without_owner(const std::vector<unsigned char>& protection, SECURITY_DESCRIPTOR& bare) {
    auto* full = const_cast<unsigned char*>(protection.data());
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    constexpr SECURITY_DESCRIPTOR_CONTROL kInheritance = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;
    return InitializeSecurityDescriptor(&bare, SECURITY_DESCRIPTOR_REVISION) != 0 &&
           GetSecurityDescriptorDacl(full, &present, &dacl, &defaulted) != 0 &&
           SetSecurityDescriptorDacl(&bare, present, dacl, FALSE) != 0 &&
           GetSecurityDescriptorControl(full, &control, &revision) != 0 &&
           SetSecurityDescriptorControl(&bare, kInheritance, control & kInheritance) != 0;
}

// Creates a new temporary in `directory`, named `prefix` and a random part,
// for writing and reading back, shared with nobody: marked in the same call
// (FILE_FLAG_DELETE_ON_CLOSE), or where that mark could not come off again
// (`mark_after_creation`), marked at once after. CREATE_NEW: whatever already
// stands at the name, link or file, is never opened. 0, or the system's error.
DWORD create_temporary(const std::wstring& directory, const std::string& prefix, bool mark_after_creation,
                       const std::vector<unsigned char>& protection, HANDLE& created, std::wstring& path) {
    created = nullptr;
    // The file is created with its protection, never with a wider one first.
    SECURITY_ATTRIBUTES given{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    SECURITY_DESCRIPTOR bare{};
    if (!protection.empty()) given.lpSecurityDescriptor = const_cast<unsigned char*>(protection.data());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring name;
        if (!utf16_from_utf8(temporary_name(prefix.c_str()), name)) return ERROR_INVALID_NAME;
        path = wide_child_path(directory, name);
        const bool mark_now = !mark_after_creation;
        HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                    given.lpSecurityDescriptor != nullptr ? &given : nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | (mark_now ? FILE_FLAG_DELETE_ON_CLOSE : 0), nullptr);
        if (opened == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            // The old file's owner is kept where the process may give it, as
            // replacing a file in place keeps it; elsewhere the runner owns
            // the new file.
            if (error == ERROR_INVALID_OWNER && given.lpSecurityDescriptor != &bare &&
                given.lpSecurityDescriptor != nullptr && without_owner(protection, bare)) {
                given.lpSecurityDescriptor = &bare;
                --attempt;
                continue;
            }
            path.clear();
            return error;
        }
        if (!mark_now && !set_delete_on_close(opened, true)) {
            const DWORD error = GetLastError();
            CloseHandle(opened);
            DeleteFileW(path.c_str());
            path.clear();
            return error;
        }
        created = opened;
        return 0;
    }
    path.clear();
    return ERROR_FILE_EXISTS;
}

}  // namespace

// Temporaries on Windows always have a name; the delete-on-close mark is
// what keeps them from outliving the program.
void safe_output_use_named_temporaries(bool) {}

// As safe_output_open decides it for a file in `directory`.
bool safe_output_marks_after_creation(const DirectoryHandle& directory) {
    return marks_after_creation(directory.handle);
}

// Nothing to install: Windows deletes a marked temporary however the
// program ends.
void safe_output_install_interrupt_cleanup() {}

namespace {

// Each subdirectory on the way is opened as open_subdirectory does (no link
// or junction, no short name for another folder) and the last one held until
// the file is done; the final name is judged before the temporary is made.
// A file that replaces another is created with the old file's DACL and
// owner; a copy (`source` given) with its source's DACL; any other file
// takes its folder's inherited protection, as a new file does.
Status open_output(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                   const char* temp_prefix, const InputFile* source) {
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
        case Existing::regular_file:
            if (!read_protection_of(wide_child_path(output.directory_path, output.final_name), output.protection))
                return discarded(output, last_failure(Failure::cannot_replace));
            // An old copy someone other than the source's owner owns is
            // replaced by a copy with the source's protection, as a new one.
            if (source != nullptr && !same_owner(source->handle, output.protection) &&
                !read_protection(source->handle, false, output.protection))
                return discarded(output, last_failure(Failure::creating));
            break;
        case Existing::nothing:
        case Existing::replaceable:
            if (source != nullptr && !read_protection(source->handle, false, output.protection))
                return discarded(output, last_failure(Failure::creating));
            break;
    }

    HANDLE created = nullptr;
    const DWORD error = create_temporary(output.directory_path, temp_prefix, marks_after_creation(current->handle),
                                         output.protection, created, output.temp_path);
    if (error != 0) return discarded(output, failed(Failure::creating, static_cast<int>(error)));
    output.handle = created;
    return kSucceeded;
}

}  // namespace

bool read_protection(void* file, bool with_owner, std::vector<unsigned char>& descriptor) {
    const SECURITY_INFORMATION wanted = DACL_SECURITY_INFORMATION | (with_owner ? OWNER_SECURITY_INFORMATION : 0);
    DWORD needed = 0;
    descriptor.clear();
    if (GetKernelObjectSecurity(file, wanted, nullptr, 0, &needed) == 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    descriptor.resize(needed);
    if (GetKernelObjectSecurity(file, wanted, descriptor.data(), needed, &needed) != 0) return true;
    descriptor.clear();
    return false;
}

Status safe_output_open(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                        const char* temp_prefix, unsigned /*permissions*/) {
    return open_output(output, directory, relative_name, temp_prefix, nullptr);
}

Status safe_output_open_copy(SafeOutput& output, const DirectoryHandle& directory, const std::string& relative_name,
                             const char* temp_prefix, const InputFile& source) {
    return open_output(output, directory, relative_name, temp_prefix, &source);
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
// POSIX; then the file takes its name as a hard link, its mark still on, and
// closing it removes the temporary name: from creation to the end there is
// no moment at which a killed program leaves the temporary behind. Where the
// link is refused, the mark comes off (FileDispositionInfoEx) just before
// the rename by handle, which reports what it meets. Where even that is
// missing, a volume without hard links gets the file copied once into a
// temporary marked after creation, whose mark can come off, and later ones
// on that volume are made so; a link refused for any other reason (the file
// at the name open in another program) is that file's failure alone, and
// changes nothing for the files after it. On a failure the file is
// discarded, which marks it again first.
Status safe_output_commit(SafeOutput& output) {
    if (output.handle == nullptr) return discarded(output, failed(Failure::naming, ERROR_INVALID_HANDLE));
    const auto fail = [&](Failure what, DWORD error) { return discarded(output, failed(what, static_cast<int>(error))); };
    DWORD attributes = 0;
    switch (examine_existing(output.directory_path, output.final_name, attributes)) {
        case Existing::cannot_replace: return fail(Failure::cannot_replace, ERROR_ACCESS_DENIED);
        case Existing::other_name: return fail(Failure::naming, ERROR_FILE_EXISTS);
        case Existing::nothing:
        case Existing::replaceable:
        case Existing::regular_file: break;
    }
    const auto keep_attributes = [&]() {
        if (attributes == 0) return true;
        FILE_BASIC_INFO basic{};  // times of 0 stay as they are
        basic.FileAttributes = attributes | FILE_ATTRIBUTE_ARCHIVE;
        return SetFileInformationByHandle(output.handle, FileBasicInfo, &basic, sizeof basic) != 0;
    };
    // A directory or a read-only file that appeared since it was judged.
    const auto not_placed = [&](DWORD error) {
        const bool blocked =
            examine_existing(output.directory_path, output.final_name, attributes) == Existing::cannot_replace;
        return fail(blocked ? Failure::cannot_replace : Failure::naming, error);
    };
    if (!keep_attributes()) return fail(Failure::naming, GetLastError());
    const std::wstring final_path = wide_child_path(output.directory_path, output.final_name);
    // A volume known to take no link is not asked again.
    const bool unmarkable = marks_after_creation(output.handle);
    const DWORD link_error = unmarkable ? ERROR_NOT_SUPPORTED : link_by_handle(output.handle, final_path);
    const bool linked = link_error == 0;
    if (!linked && !unmarkable) {
        if (!clear_mark_of_creation(output.handle)) {
            if (!volume_lacks_hard_links(output.handle, link_error)) return not_placed(link_error);
            DWORD serial = 0;
            if (volume_serial(output.handle, serial)) g_volumes_marked_after_creation.push_back(serial);
            HANDLE copy = nullptr;
            std::wstring copy_path;
            const std::wstring old_name = output.temp_path.substr(output.temp_path.rfind(L'\\') + 1);
            DWORD error = create_temporary(output.directory_path, utf8_from_utf16(old_name), true, output.protection,
                                           copy, copy_path);
            if (error != 0) return fail(Failure::creating, error);
            std::vector<char> block(64 * 1024);
            LARGE_INTEGER start{};
            if (SetFilePointerEx(output.handle, start, nullptr, FILE_BEGIN) == 0) error = GetLastError();
            for (DWORD got = 1; error == 0 && got > 0;) {
                DWORD put = 0;
                if (ReadFile(output.handle, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) == 0)
                    error = GetLastError();
                else if (got > 0 && (WriteFile(copy, block.data(), got, &put, nullptr) == 0 || put != got))
                    error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
            }
            CloseHandle(output.handle);  // the first temporary, now removed
            output.handle = copy;
            output.temp_path = std::move(copy_path);
            if (error != 0) return fail(Failure::writing, error);
            if (!keep_attributes()) return fail(Failure::naming, GetLastError());
        }
    }
    if (!linked) {
        if (!set_delete_on_close(output.handle, false)) return fail(Failure::naming, GetLastError());
        if (!rename_by_handle(output.handle, final_path)) return not_placed(GetLastError());
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
    output.protection.clear();
    close_quietly(output.subdirectory.handle);
    output.subdirectory.path.clear();
}
