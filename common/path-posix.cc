// Separators on POSIX systems.

#include "common/path.h"

char path_separator() { return '/'; }

bool is_path_separator(char c) { return c == '/'; }
