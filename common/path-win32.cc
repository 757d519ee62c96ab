// Separators on Windows.

#include "common/path.h"

// Windows' own separator, for paths the programs join.
char path_separator() { return '\\'; }

// Windows takes '/' as well as '\\' between components.
bool is_path_separator(char c) { return c == '\\' || c == '/'; }
