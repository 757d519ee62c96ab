#pragma once

#include <string_view>

// Matches a file name against a wildcard pattern: '*' stands for any run of
// characters, '?' for exactly one, letters compare without regard to case,
// and "*.*" matches every name, with or without a dot.
bool match_wildcard(std::string_view pattern, std::string_view name);
