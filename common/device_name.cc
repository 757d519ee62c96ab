#include "common/device_name.h"

#include "common/ascii_case.h"

namespace {

// Device names compare in ASCII letter case only, as Windows compares them.
bool equals_ignoring_case(std::string_view text, std::string_view device) {
    if (text.size() != device.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (fold_ascii_case(text[i]) != fold_ascii_case(device[i])) return false;
    }
    return true;
}

// The digit after COM or LPT: 0-9, and the superscripts one to three that
// Windows takes as digits there too, in UTF-8 or as the single bytes of the
// Western code page an archive may have been made in.
bool is_port_number(std::string_view rest) {
    if (rest.size() == 1) {
        const auto c = static_cast<unsigned char>(rest[0]);
        return (c >= '0' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
    }
    return rest == "\xC2\xB9" || rest == "\xC2\xB2" || rest == "\xC2\xB3";
}

}  // namespace

bool is_device_name(std::string_view name) {
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (equals_ignoring_case(stem, device)) return true;
    }
    if (stem.size() < 4) return false;
    if (!equals_ignoring_case(stem.substr(0, 3), "COM") && !equals_ignoring_case(stem.substr(0, 3), "LPT"))
        return false;
    return is_port_number(stem.substr(3));
}
