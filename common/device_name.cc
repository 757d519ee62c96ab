#include "common/device_name.h"

namespace {

// Device names compare in ASCII letter case only, as Windows compares them.
bool equals_ignoring_case(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != upper[i]) return false;
    }
    return true;
}

}  // namespace

bool is_device_name(std::string_view name) {
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (equals_ignoring_case(stem, device)) return true;
    }
    return stem.size() == 4 && stem[3] >= '0' && stem[3] <= '9' &&
           (equals_ignoring_case(stem.substr(0, 3), "COM") || equals_ignoring_case(stem.substr(0, 3), "LPT"));
}
