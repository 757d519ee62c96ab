// Naming the file being written through its handle (file_naming-win32.h).

#include "common/file_naming-win32.h"

#include <cstring>
#include <vector>


namespace {

// Set by a test only (answer_as_volumes_without_links).
bool g_volumes_without_links = false;

// The layout FILE_RENAME_INFO and FILE_LINK_INFORMATION share, holding
// `path`, replacing what stands there.
std::vector<unsigned char> naming_request(const std::wstring& path) {
    const size_t name_bytes = path.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
    auto* request = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    request->ReplaceIfExists = TRUE;
    request->RootDirectory = nullptr;
    request->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(request->FileName, path.data(), name_bytes);
    return buffer;
}

}  // namespace

void answer_as_volumes_without_links(bool without) { g_volumes_without_links = without; }

// FileDispositionInfo: the plain mark, which only a file marked after its
// creation can lose again.
bool set_delete_on_close(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// FILE_DISPOSITION_FLAG_ON_CLOSE without FILE_DISPOSITION_FLAG_DELETE.
bool clear_mark_of_creation(HANDLE file) {
    if (g_volumes_without_links) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    struct {
        DWORD Flags;
    } disposition{0x8};
    return SetFileInformationByHandle(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(21) /* FileDispositionInfoEx */,
                                      &disposition, sizeof disposition) != 0;
}

// Windows offers this only below its own API, as NtSetInformationFile's
// FileLinkInformation, which takes the kernel's form of the path.
DWORD link_by_handle(HANDLE file, const std::wstring& path) {
    if (g_volumes_without_links) return ERROR_NOT_SUPPORTED;
    using SetInformation = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, int);
    using ErrorOfStatus = ULONG(WINAPI*)(LONG);
    static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto set_information =
        reinterpret_cast<SetInformation>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
    static const auto error_of_status =
        reinterpret_cast<ErrorOfStatus>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    if (set_information == nullptr || error_of_status == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
    // The kernel's name for a \\?\ path begins \??\ instead.
    std::vector<unsigned char> link = naming_request(L"\\?" "?\\" + path.substr(4));
    ULONG_PTR io_status[2] = {};
    const LONG status = set_information(file, io_status, link.data(), static_cast<ULONG>(link.size()),
                                        11 /* FileLinkInformation */);
    return status >= 0 ? 0 : static_cast<DWORD>(error_of_status(status));
}

// FileRenameInfo, which reports what it meets at the name.
bool rename_by_handle(HANDLE file, const std::wstring& path) {
    std::vector<unsigned char> rename = naming_request(path);
    return SetFileInformationByHandle(file, FileRenameInfo, rename.data(), static_cast<DWORD>(rename.size())) != 0;
}

// The volume's own flags first, where it reports them.
bool volume_lacks_hard_links(HANDLE file, DWORD link_error) {
    if (g_volumes_without_links) return true;
    DWORD flags = 0;
    if (GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != 0 &&
        (flags & FILE_SUPPORTS_HARD_LINKS) != 0)
        return false;
    return link_error == ERROR_NOT_SUPPORTED || link_error == ERROR_INVALID_FUNCTION ||
           link_error == ERROR_INVALID_PARAMETER || link_error == ERROR_CALL_NOT_IMPLEMENTED;
}
