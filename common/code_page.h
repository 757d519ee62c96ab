#pragma once

// Names where they meet the console and the archives: on Windows the only
// places the active code page is met; every conversion there is exact or
// refused, never a best fit. Elsewhere names pass unchanged.

#include <string>
#include <string_view>

// A name as the console should show it: unchanged where paths are held in
// the console's own encoding; on Windows converted to the active code page,
// with its default character for what the code page cannot hold.
std::string name_for_console(std::string_view name);

// Turns an archive entry's stored name (bytes in the code page that made the
// archive, which on Windows is taken to be the active one) into a path as
// path.h describes. False when it does not convert exactly.
bool archive_name_to_path(std::string_view stored, std::string& path);

// Whether the file system drops dots and blanks from the end of a name when
// it stores it (Windows does), so names meant to differ would meet.
bool names_lose_trailing_dots_and_spaces();

// The printable characters this platform's file system refuses in a name,
// beyond ':' and the control characters that no platform's names may hold:
// "<>\"|?*" on Windows, none elsewhere. An archive entry holding one is
// refused with the other unsafe names, before anything is written.
std::string_view characters_names_cannot_hold();
