// The Windows safe output's temporary (temporary_file-win32.h).

#include "common/temporary_file-win32.h"

#include "common/file_naming-win32.h"
#include "common/file_protection-win32.h"
#include "common/safe_output_parts.h"
#include "common/wide_path-win32.h"

namespace {

// One CreateFileW with CREATE_NEW: the file is created with its protection,
// never with a wider one first.
HANDLE create_new(const std::wstring& path, bool mark_now, void* descriptor) {
    SECURITY_ATTRIBUTES given{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, descriptor != nullptr ? &given : nullptr,
                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL | (mark_now ? FILE_FLAG_DELETE_ON_CLOSE : 0), nullptr);
}

}  // namespace

// A name taken meanwhile costs a retry. The old file's owner is kept where
// the process may give it, as replacing a file in place keeps it; elsewhere
// (ERROR_INVALID_OWNER) the runner owns the new file.
DWORD create_temporary(const std::wstring& directory, const std::string& prefix, bool mark_after_creation,
                       const std::vector<unsigned char>& protection, HANDLE& created, std::wstring& path) {
    created = nullptr;
    SECURITY_DESCRIPTOR bare{};
    void* descriptor = protection.empty() ? nullptr : const_cast<unsigned char*>(protection.data());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring name;
        if (!utf16_from_utf8(temporary_name(prefix.c_str()), name)) return ERROR_INVALID_NAME;
        path = wide_child_path(directory, name);
        HANDLE opened = create_new(path, !mark_after_creation, descriptor);
        if (opened == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            if (error == ERROR_INVALID_OWNER && descriptor != nullptr && descriptor != &bare &&
                without_owner(protection, bare)) {
                descriptor = &bare;
                --attempt;
                continue;
            }
            path.clear();
            return error;
        }
        if (mark_after_creation && !set_delete_on_close(opened, true)) {
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
