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
