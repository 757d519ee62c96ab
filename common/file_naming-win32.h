#pragma once

// What the Windows safe output asks of the file it writes, through its open
// handle alone: the delete-on-close mark set or taken off, and a name given
// as a hard link or by a rename. Through the handle, the file being written
// is the one named, whatever stands at its path meanwhile.

#include <windows.h>

#include <string>

// Marks the open file to be deleted when its last handle closes (`remove`),
// or takes the mark off where it was set after creation.
bool set_delete_on_close(HANDLE file, bool remove);

// Takes off the delete-on-close mark the file was created with, which only
// FileDispositionInfoEx can (Windows 10 1809 and later); false where the
// system lacks it, as older ones and Wine do.
bool clear_mark_of_creation(HANDLE file);

// Gives the open file `path` (a \\?\ path) as a second name, a hard link,
// replacing a file or a link there (the link itself) as a rename would.
// 0, or the system's error for the refusal.
DWORD link_by_handle(HANDLE file, const std::wstring& path);

// Gives the open file `path` as its name, replacing a file or a link there
// (the link itself, never what it leads to).
bool rename_by_handle(HANDLE file, const std::wstring& path);

// Whether a link refused with `link_error` says that the volume of the open
// file has no hard links at all (FAT, exFAT), rather than refusing this one
// file (ERROR_ACCESS_DENIED when the file at its name is open in another
// program). Only a refusal as unsupported says so, and never on a volume
// that reports hard links (NTFS); not every system reports them (Wine).
bool volume_lacks_hard_links(HANDLE file, DWORD link_error);

// For a test only (test_hooks.h): every volume answers the calls above as a
// FAT volume on a system older than Windows 10 1809 does, taking no link and
// not letting the mark of creation come off.
void answer_as_volumes_without_links(bool without);
