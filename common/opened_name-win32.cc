// Judging what a handle opened by name is (opened_name-win32.h).

#include "common/opened_name-win32.h"

#include <algorithm>

#include "common/path.h"
#include "common/wide_path-win32.h"

// A separator of either kind makes more than one component.
bool is_one_component(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), is_path_separator);
}

// Only name surrogates lead elsewhere; a tag of 0 is Wine's link.
bool is_link_attribute(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag == 0 || IsReparseTagNameSurrogate(tag));
}

// The handle's own attributes first, then the listing, which alone shows
// the name as stored.
Opened judge_opened(HANDLE opened, const std::wstring& directory, const std::wstring& name, bool want_directory) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &tag, sizeof tag) == 0)
        return Opened::elsewhere;
    if (is_link_attribute(tag.FileAttributes, tag.ReparseTag)) return Opened::link;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Opened::reparse_point;
    if (((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != want_directory) return Opened::wrong_kind;
    WIN32_FIND_DATAW listed;
    if (!find_listed(directory, name, listed)) return Opened::elsewhere;
    if (!same_name_ignoring_case(listed.cFileName, name)) return Opened::elsewhere;
    if (is_link_attribute(listed.dwFileAttributes, listed.dwReserved0)) return Opened::link;
    return Opened::as_named;
}

// The system code a refusal by judge_opened is reported with.
int error_for(Opened opened) {
    return opened == Opened::wrong_kind ? ERROR_DIRECTORY : ERROR_CANT_RESOLVE_FILENAME;
}
