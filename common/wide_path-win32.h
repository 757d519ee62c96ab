#pragma once

// Paths between the program's form (UTF-8, path.h) and the UTF-16 form that
// Windows takes, for the Windows platform layer and its safe output only.
// Both directions are exact: a name Windows lists always comes back to the
// same UTF-16 name, even one holding a lone surrogate, which NTFS allows
// and strict UTF-8 cannot hold; such a surrogate is written as its
// three-byte form (as WTF-8 does).

#include <windows.h>

#include <string>
#include <string_view>

#include "common/status.h"
#include "common/system_call.h"

// UTF-16 as the program holds text: UTF-8, with a lone surrogate in its
// three-byte form, so that nothing is lost or merged.
std::string utf8_from_utf16(std::wstring_view wide);

// The program's text as UTF-16, refusing anything that utf8_from_utf16
// could not have made: malformed or overlong sequences, a surrogate pair
// written as two halves (which would give a second spelling of one name),
// and NUL, which would cut the name short where Windows reads it.
bool utf16_from_utf8(std::string_view text, std::wstring& wide);

// `name` inside the directory at `directory` (a \\?\ path): one separator
// between them, none added after a drive's root, which already ends in one.
std::wstring wide_child_path(const std::wstring& directory, std::wstring_view name);

// Whether two names are one to the file system, which ignores letter case
// (in its own, locale-free sense).
bool same_name_ignoring_case(std::wstring_view a, std::wstring_view b);

// The entry `name` of the directory at `directory` as the directory lists
// it now: its stored long name and attributes, whatever name it answered
// to (an 8.3 short name answers for a long one). False when there is none.
bool find_listed(const std::wstring& directory, const std::wstring& name, WIN32_FIND_DATAW& found);

// A path from the user (an argument, or one derived from it) as Windows
// should be handed it: absolute, by GetFullPathNameW, which reads "C:" as
// the current folder of drive C:, resolves "." and "..", and takes trailing
// dots and blanks off as Windows itself does; then in the \\?\ form, so that
// nothing further is changed and any length works. A path already in that
// form is taken as it stands. Device and volume paths are refused: they
// are not files. Only a drive's root or what lies below it ("C:\",
// "\\.\C:\dir", "\\?\C:\dir") and a share or what lies on it pass;
// "\\.\C:" and "\\?\C:" (drive C's raw volume), NUL, \\.\pipe\...,
// PhysicalDriveN, GLOBALROOT and volume GUID paths do not.
Status system_path(const std::string& path, std::wstring& system);

// The path to keep for a directory opened at `system`: the one Windows
// reports for it, with every link and junction on the way resolved once, so
// that none changed later can lead elsewhere; but only when that path
// leads back to the same directory (Wine reports "sub." as "sub").
std::wstring pinned_path(HANDLE opened, const std::wstring& system);
