#include "unpacker/entry_name.h"

#include "common/platform.h"

namespace {

// Archives separate directories with either byte, whatever made them.
bool is_name_separator(char c) { return c == '/' || c == '\\'; }

// Device names are matched in any letter case, ASCII only as Windows does.
char to_upper_ascii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Compares two names the way Windows compares device names.
bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (to_upper_ascii(a[i]) != to_upper_ascii(b[i])) return false;
    }
    return true;
}

// Windows opens a device for these names whatever extension follows and
// whatever spaces trail the stem, in every directory.
bool is_device_name(std::string_view component) {
    std::string_view stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
        if (equals_ignoring_case(stem, device)) return true;
    }
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
        std::string_view prefix = stem.substr(0, 3);
        if (equals_ignoring_case(prefix, "COM") || equals_ignoring_case(prefix, "LPT")) return true;
    }
    return false;
}

// A component that climbs out of its directory or opens a device.
bool is_unsafe_component(std::string_view component) {
    return component == ".." || is_device_name(component);
}

}  // namespace

bool is_unsafe_entry_name(std::string_view name) {
    if (name.empty()) return false;
    if (is_name_separator(name.front())) return true;
    for (char c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == ':' || byte < 0x20 || byte == 0x7F) return true;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !is_name_separator(name[end])) ++end;
        if (is_unsafe_component(name.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

std::string entry_name_to_path(std::string_view name) {
    std::string path(name);
    for (char& c : path) {
        if (is_name_separator(c)) c = kPathSeparator;
    }
    return path;
}
