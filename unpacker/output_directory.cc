#include "unpacker/output_directory.h"

namespace {

// A name's limit on every file system the programs meet: 255 bytes on
// POSIX systems, 255 UTF-16 units on Windows.
constexpr size_t kMaxComponentUnits = 255;

bool is_utf8_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest prefix of `part` that the file system can store as one name,
// never ending inside a UTF-8 character; `part` itself whenever it fits, so
// two names that fit never meet. Measured in bytes, or with `utf16_units`
// in UTF-16 units (a character beyond U+FFFF, four bytes, takes two). In
// bytes a character is at most four, so at most three are given back; a
// longer run of continuation bytes is no UTF-8 and is cut where the limit
// falls.
std::string_view cut_to_limit(std::string_view part, bool utf16_units) {
    if (utf16_units) {
        size_t units = 0;
        for (size_t at = 0; at < part.size(); ++at) {
            if (is_utf8_continuation(part[at])) continue;
            units += static_cast<unsigned char>(part[at]) >= 0xF0 ? 2u : 1u;
            if (units > kMaxComponentUnits) return part.substr(0, at);
        }
        return part;
    }
    if (part.size() <= kMaxComponentUnits) return part;
    size_t end = kMaxComponentUnits;
    while (end > kMaxComponentUnits - 3 && is_utf8_continuation(part[end])) --end;
    if (is_utf8_continuation(part[end])) end = kMaxComponentUnits;
    return part.substr(0, end);
}

std::string_view without_trailing_dots_and_spaces(std::string_view text) {
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.remove_suffix(1);
    return text;
}

// A base name of nothing but dots would name the current or parent
// directory, or nothing at all.
bool is_only_dots(std::string_view text) { return text.find_first_not_of('.') == std::string_view::npos; }

}  // namespace

std::string derive_output_directory(std::string_view archive_path, bool windows_names) {
    const size_t drive_end = archive_path.size() >= 2 && archive_path[1] == ':' ? 2 : 0;
    size_t directory_end = drive_end;
    for (size_t at = drive_end; at < archive_path.size(); ++at) {
        if (archive_path[at] == '\\' || archive_path[at] == '/') directory_end = at + 1;
    }
    const std::string_view head = archive_path.substr(0, directory_end);
    std::string_view last_component = archive_path.substr(directory_end);
    // Windows opens "a.pak." as "a.pak": the extension is the one of the
    // name it opened, so the folder is "a", never the archive itself.
    if (windows_names && !is_only_dots(without_trailing_dots_and_spaces(last_component)))
        last_component = without_trailing_dots_and_spaces(last_component);
    const size_t last_dot = last_component.rfind('.');
    std::string_view base = last_component;
    if (last_dot != std::string_view::npos && !is_only_dots(last_component.substr(0, last_dot)))
        base = last_component.substr(0, last_dot);

    // The directory part is never cut: a shortened one would name some other
    // folder, and the output would land there. A path too long for the
    // system fails when the directory is made, like any other.
    std::string_view kept = cut_to_limit(base, windows_names);
    if (windows_names) kept = without_trailing_dots_and_spaces(kept);
    // A cut or trim can leave nothing or only dots, which Windows drops from
    // the end of a name, so the output would land in the archive's own
    // folder: the whole name is kept then, as for a bare extension.
    if (is_only_dots(kept)) kept = last_component;
    std::string result(head);
    result += kept;
    return result;
}
