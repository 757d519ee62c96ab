// The path for volumes without hard links (volume_without_links-win32.h).

#include "common/volume_without_links-win32.h"

#include <algorithm>
#include <vector>

#include "common/system_call.h"
#include "common/temporary_file-win32.h"
#include "common/wide_path-win32.h"

namespace {

// The volumes, by serial number, seen to take neither a hard link nor the
// taking off of the mark.
std::vector<DWORD> g_volumes_marked_after_creation;

// The serial number of the volume that holds the open file or directory.
bool volume_serial(HANDLE file, DWORD& serial) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(file, &information) == 0) return false;
    serial = information.dwVolumeSerialNumber;
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

// No call at all while no such volume has been met, as on most runs.
bool marks_after_creation(HANDLE directory) {
    if (g_volumes_marked_after_creation.empty()) return false;
    DWORD serial = 0;
    return volume_serial(directory, serial) &&
           std::find(g_volumes_marked_after_creation.begin(), g_volumes_marked_after_creation.end(), serial) !=
               g_volumes_marked_after_creation.end();
}

// The new temporary is named after the first, so it too is never taken
// for a source by a walk.
Status make_markable_copy(SafeOutputState& state) {
    DWORD serial = 0;
    if (volume_serial(state.handle, serial)) g_volumes_marked_after_creation.push_back(serial);
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
