#pragma once

// The temporary the Windows safe output writes into: named, beside the
// final name, and marked for deletion when its last handle closes, so that
// however the program ends it leaves nothing.

#include <windows.h>

#include <string>
#include <vector>

// Creates a new temporary in `directory`, named `prefix` and a random part,
// for writing and reading back, shared with nobody and created with
// `protection` (empty: the folder's inherited protection): marked in the
// same call (FILE_FLAG_DELETE_ON_CLOSE), or where that mark could not come
// off again (`mark_after_creation`), marked at once after. Whatever already
// stands at a name, link or file, is never opened. 0, or the system's error.
DWORD create_temporary(const std::wstring& directory, const std::string& prefix, bool mark_after_creation,
                       const std::vector<unsigned char>& protection, HANDLE& created, std::wstring& path);
