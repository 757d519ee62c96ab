#pragma once

// What a handle opened by name on Windows turned out to be: the thing named
// itself, or a link, a short name for another entry, or the wrong kind. The
// directories (file_system-win32.cc) and the files read (input_file-win32.cc)
// judge every handle they open by name this way.

#include <windows.h>

#include <string>

// One name within a directory: not empty, no separator, not "." or "..".
bool is_one_component(const std::string& name);

// Whether attributes and reparse tag describe a link: a reparse point that
// stands for another name (symbolic link, junction). Other reparse points
// (cloud placeholders, deduplicated files) are the file itself. A reparse
// point whose tag Windows leaves unreported (as Wine does for its links) is
// taken as a link.
bool is_link_attribute(DWORD attributes, DWORD tag);

enum class Opened { as_named, link, reparse_point, wrong_kind, elsewhere };

// What was opened as `name` in the directory at `directory`, with
// FILE_FLAG_OPEN_REPARSE_POINT: the thing named itself; a link or junction
// standing there; another kind of reparse point (to be opened again without
// the flag); a file where a directory was wanted or the reverse; or not the
// name asked for. The name as Windows lists it now must be the one asked
// for, letter case aside: that catches an 8.3 short name standing for a
// different long one, and a link that Windows followed although asked not
// to (Wine does, and shows the link only in its listings).
Opened judge_opened(HANDLE opened, const std::wstring& directory, const std::wstring& name, bool want_directory);

// The system code a refusal by judge_opened is reported with.
int error_for(Opened opened);
