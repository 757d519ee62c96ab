#pragma once

// Letter case as the programs fold it wherever case does not count (listing
// order, patterns, device names, the copies' prefix): ASCII letters only,
// the same in every locale and code page.
inline char fold_ascii_case(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
