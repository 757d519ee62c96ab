#pragma once

// What an archive's entry names may be, and how they become paths here.
// Names come from whoever made the archive, so they are judged by the same
// rules on every platform and an archive unpacks the same everywhere.

#include <string>
#include <string_view>

// True for a name that could reach outside the output directory or name a
// device: absolute ('/' or '\' first), holding ':' (a drive or a stream),
// a ".." component, a control byte (below 0x20, or 0x7F), or a component
// that is a device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, any
// letter case, with or without an extension). '/' and '\' both separate
// components. The empty name is not unsafe; it simply cannot be opened.
bool is_unsafe_entry_name(std::string_view name);

// The name with both '\' and '/' turned into this platform's separator.
std::string entry_name_to_path(std::string_view name);
