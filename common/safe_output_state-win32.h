#pragma once

// What the Windows safe output keeps of one file being written
// (safe_output.h); only the safe output's own files include this.

#include <string>
#include <vector>

#include "common/directory.h"
#include "common/safe_output.h"

struct SafeOutputState {
    void* handle = nullptr;         // the temporary, deleted when closed until committed
    DirectoryHandle subdirectory;   // held while the file goes below the caller's directory
    void* folder = nullptr;         // the directory the file goes in: the caller's, or that one
    std::wstring directory_path;    // where the file goes, in the \\?\ form
    std::wstring temp_path;         // to remove it should marking it ever fail
    std::wstring final_name;
    // The security descriptor the file is created with (self-relative; none:
    // the folder's inherited protection): the replaced file's DACL and owner,
    // or the DACL of the source a copy is made of.
    std::vector<unsigned char> protection;
    // Created unmarked and marked just after, on a volume without hard
    // links (volume_without_links-win32.h): its mark can come off.
    bool marked_after_creation = false;
};
