// Names on POSIX systems: any byte but '/' and NUL, stored as given.

#include "common/name_rules.h"

bool names_lose_trailing_dots_and_spaces() { return false; }

std::string_view characters_names_cannot_hold() { return {}; }
