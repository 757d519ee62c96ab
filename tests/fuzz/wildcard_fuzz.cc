// Fuzz target for the wildcard matcher that selects files in every listing.
// The input is a pattern and a name separated by the first NUL byte. Beyond
// crashes and timeouts it checks the matcher against a plain table-driven
// reference, so a wrong answer is a finding too.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "common/wildcard.h"

namespace {

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The matcher's rules written the slow, obvious way: matches[i][j] tells
// whether the first i pattern characters match the first j name characters.
bool reference_match(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*") return true;
    const size_t width = name.size() + 1;
    std::vector<unsigned char> matches((pattern.size() + 1) * width, 0);
    matches[0] = 1;
    for (size_t i = 1; i <= pattern.size(); ++i) {
        const char p = pattern[i - 1];
        for (size_t j = 0; j <= name.size(); ++j) {
            unsigned char here = 0;
            if (p == '*') {
                here = matches[(i - 1) * width + j] != 0 || (j > 0 && matches[i * width + j - 1] != 0);
            } else if (j > 0 && (p == '?' || fold(p) == fold(name[j - 1]))) {
                here = matches[(i - 1) * width + j - 1];
            }
            matches[i * width + j] = here;
        }
    }
    return matches[pattern.size() * width + name.size()] != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\0');
    const std::string_view pattern = input.substr(0, cut);
    const std::string_view name = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
    const bool got = match_wildcard(pattern, name);
    // The reference table is quadratic; long inputs are checked for crashes
    // and speed alone.
    if (pattern.size() * name.size() <= 1u << 20 && got != reference_match(pattern, name)) std::abort();
    return 0;
}
