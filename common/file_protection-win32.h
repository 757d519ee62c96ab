#pragma once

// The protection a file written on Windows is created with (the Windows
// safe output's own): a replaced file's DACL and owner, as writing into it
// would have kept them, or a copy's source's DACL. Descriptors are held
// self-relative, as GetKernelObjectSecurity gives them.

#include <windows.h>

#include <string>
#include <vector>

// The protection of the open file `file` as Windows stores it: its DACL,
// and its owner when `with_owner`. False, with the system's error, where it
// cannot be read.
bool read_protection(void* file, bool with_owner, std::vector<unsigned char>& descriptor);

// The DACL and owner of the file at `path`, read through the file itself,
// never through a link standing there. False where they cannot be read,
// and then the file is not replaced rather than given the folder's
// protection.
bool read_protection_at(const std::wstring& path, std::vector<unsigned char>& descriptor);

// What a copy of `source` is created with, given in `protection` the DACL
// and owner of the old copy at its name (empty where none stands): the old
// copy's own where it has the source's owner, as replacing it in place
// would keep; else the source's DACL alone, for an old copy that someone
// else planted there would otherwise be handed the source's bytes with its
// planter's DACL. False where the source's protection cannot be read.
bool protection_for_copy(HANDLE source, std::vector<unsigned char>& protection);

// `protection` less its owner, for a process that may not give a file that
// owner: the DACL alone, with its inheritance flags, in an absolute
// descriptor pointing into `protection`.
bool without_owner(const std::vector<unsigned char>& protection, SECURITY_DESCRIPTOR& bare);
