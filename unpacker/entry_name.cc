#include "unpacker/entry_name.h"

#include <algorithm>

#include "common/device_name.h"
#include "common/code_page.h"
#include "common/name_rules.h"
#include "common/path.h"
#include "common/utf8.h"

namespace {

// Archives separate directories with either byte, whatever made them.
bool is_name_separator(char c) { return c == '/' || c == '\\'; }

// A component that climbs out of its directory, opens a device, or loses
// its last dots or blanks on Windows and so names some other file.
bool is_unsafe_component(std::string_view component) {
    if (component == ".") return false;
    if (!component.empty() && (component.back() == '.' || component.back() == ' ')) return true;
    return is_device_name(component);
}

// `path` without its "." components that a separator follows ("./a" is
// "a", "sub/./a" is "sub/a"), which the safe output refuses: they name the
// folder they stand in. So are the empty ones they leave at the start
// (".//a" is "a", not the absolute "/a"). A last "." stays, and with it the
// refusal of a name that names no file.
// Kept components move forward in place: no copy of every entry's name.
void drop_current_folder_components(std::string& path) {
    size_t kept = 0;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = start;
        while (end < path.size() && !is_name_separator(path[end])) ++end;
        const bool current_folder = path.compare(start, end - start, ".") == 0 || (end == start && kept == 0);
        if (end == path.size() || !current_folder) {
            const size_t length = std::min(end + 1, path.size()) - start;
            const auto from = path.begin() + static_cast<std::ptrdiff_t>(start);
            std::copy(from, from + static_cast<std::ptrdiff_t>(length), path.begin() + static_cast<std::ptrdiff_t>(kept));
            kept += length;
        }
        start = end + 1;
    }
    path.resize(kept);
}

}  // namespace

bool is_unsafe_entry_name(std::string_view name) {
    if (name.empty()) return false;
    if (is_name_separator(name.front())) return true;
    for (size_t at = 0; at < name.size();) {
        const Utf8Unit unit = decode_utf8(name, at);
        if (unit.kind == Utf8Kind::character && (unit.point == ':' || is_control_character(unit.point)))
            return true;
        // A form that is no character is what a lenient reader takes for
        // the character it spells, a C1 control or a '/' among them; a
        // second spelling of a name, too. A lone byte of another code page
        // is no such form.
        if (unit.kind == Utf8Kind::ill_formed || unit.kind == Utf8Kind::surrogate) return true;
        at += unit.length;
    }
    // What this platform's file system cannot store is judged here too, so
    // that such an archive writes nothing rather than stopping at that entry.
    if (name.find_first_of(characters_names_cannot_hold()) != std::string_view::npos) return true;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !is_name_separator(name[end])) ++end;
        if (is_unsafe_component(name.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

bool entry_name_to_path(std::string_view stored_name, std::string& path) {
    if (!archive_name_to_path(stored_name, path)) return false;
    if (is_unsafe_entry_name(path)) return false;
    drop_current_folder_components(path);
    for (char& c : path) {
        if (is_name_separator(c)) c = path_separator();
    }
    return true;
}
