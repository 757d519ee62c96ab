// Names on POSIX systems: paths are bytes, shown and stored as they are.

#include "common/code_page.h"

std::string name_for_console(std::string_view name) { return std::string(name); }

bool archive_name_to_path(std::string_view stored, std::string& path) {
    path.assign(stored);
    return true;
}

bool names_lose_trailing_dots_and_spaces() { return false; }

// A POSIX name may hold any byte but '/' and NUL.
std::string_view characters_names_cannot_hold() { return {}; }
