// The protection a file written on Windows is created with
// (file_protection-win32.h).

#include "common/file_protection-win32.h"

namespace {

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

}  // namespace

// Asked once for its size, then for the descriptor itself.
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

// Opened with FILE_FLAG_OPEN_REPARSE_POINT and only READ_CONTROL, shared
// with everyone: a link there is read as itself, and nothing is held.
bool read_protection_at(const std::wstring& path, std::vector<unsigned char>& descriptor) {
    HANDLE file = CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool read = read_protection(file, true, descriptor);
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return read;
}

// The owner is compared only where an old copy stands.
bool protection_for_copy(HANDLE source, std::vector<unsigned char>& protection) {
    if (!protection.empty() && same_owner(source, protection)) return true;
    return read_protection(source, false, protection);
}

// Built field by field: an absolute descriptor may point into another.
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
