// Names on POSIX systems: paths are bytes, shown and stored as they are.

#include "common/code_page.h"

std::string name_for_console(std::string_view name) { return std::string(name); }

bool archive_name_to_path(std::string_view stored, std::string& path) {
    path.assign(stored);
    return true;
}
