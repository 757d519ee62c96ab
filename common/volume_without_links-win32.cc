// The path for volumes without hard links (volume_without_links-win32.h).

#include "common/volume_without_links-win32.h"

#include <algorithm>
#include <vector>

#include "common/system_call.h"
#include "common/temporary_file-win32.h"
#include "common/wide_path-win32.h"

namespace {

// A folder as the file system knows it, whatever path led to it.
struct FolderIdentity {
    DWORD volume = 0;
    DWORD index_high = 0;
    DWORD index_low = 0;
    bool operator==(const FolderIdentity&) const = default;
};

// The folders seen to hold files whose volume takes neither a hard link nor
// the taking off of the mark.
std::vector<FolderIdentity> g_folders_marked_after_creation;

// The identity of the open directory `folder`.
bool identify(HANDLE folder, FolderIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(folder, &information) == 0) return false;
    identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    return true;
}

// Reads `from` from its start into `to`; 0, or the system's error.
DWORD copy_whole(HANDLE from, HANDLE to) {
    std::vector<char> block(64 * 1024);
    LARGE_INTEGER start{};
    if (SetFilePointerEx(from, start, nullptr, FILE_BEGIN) == 0) return GetLastError();
    for (;;) {
        DWORD got = 0;
        DWORD put = 0;
        if (ReadFile(from, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) == 0) return GetLastError();
        if (got == 0) return 0;
        if (WriteFile(to, block.data(), got, &put, nullptr) == 0) return GetLastError();
        if (put != got) return ERROR_WRITE_FAULT;
    }
}

}  // namespace

void forget_folders_without_links() { g_folders_marked_after_creation.clear(); }

// No call at all while no such folder has been met, as on most runs.
bool marks_after_creation(HANDLE folder) {
    if (g_folders_marked_after_creation.empty()) return false;
    FolderIdentity identity;
    return identify(folder, identity) && std::find(g_folders_marked_after_creation.begin(),
                                                   g_folders_marked_after_creation.end(),
                                                   identity) != g_folders_marked_after_creation.end();
}

// The new temporary is named after the first, so it too is never taken
// for a source by a walk.
Status make_markable_copy(SafeOutputState& state) {
    FolderIdentity identity;
    if (identify(state.folder, identity)) g_folders_marked_after_creation.push_back(identity);
    const std::wstring old_name = state.temp_path.substr(state.temp_path.rfind(L'\\') + 1);
    HANDLE copy = nullptr;
    std::wstring copy_path;
    const DWORD error =
        create_temporary(state.directory_path, utf8_from_utf16(old_name), true, state.protection, copy, copy_path);
    if (error != 0) return failed(Failure::naming, static_cast<int>(error));
    const DWORD copied = copy_whole(state.handle, copy);
    CloseHandle(state.handle);  // the first temporary, now removed
    state.handle = copy;
    state.temp_path = std::move(copy_path);
    state.marked_after_creation = true;
    return copied == 0 ? kSucceeded : failed(Failure::writing, static_cast<int>(copied));
}
