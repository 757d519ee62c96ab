// Names on Windows, whatever the file system.

#include "common/name_rules.h"

// Windows stores "a." and "a " as "a" (save by \\?\ paths, which Explorer
// cannot follow), so the unpacker names its folder as it will be stored.
bool names_lose_trailing_dots_and_spaces() { return true; }

std::string_view characters_names_cannot_hold() { return kCharactersWindowsRefuses; }
