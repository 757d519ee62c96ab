#include "unpacker/output_directory.h"

#include "common/utf8.h"

namespace {

// A name's limit on every file system the programs meet: 255 bytes on
// POSIX systems, 255 UTF-16 units on Windows.
constexpr size_t kMaxComponentUnits = 255;

// The longest prefix of `part` that the file system can store as one name,
// never ending inside a UTF-8 character (nor inside the form a lone
// surrogate of a Windows name is held in); `part` itself whenever it fits,
// so two names that fit never meet. Measured in bytes, or with
// `utf16_units` in UTF-16 units: a character beyond U+FFFF takes two, any
// other one. A byte that is no UTF-8 counts alone and may be cut after.
std::string_view cut_to_limit(std::string_view part, bool utf16_units) {
    size_t units = 0;
    for (size_t at = 0; at < part.size();) {
        const Utf8Unit unit = decode_utf8(part, at);
        const bool whole = unit.kind == Utf8Kind::character || unit.kind == Utf8Kind::surrogate;
        const size_t length = whole ? unit.length : 1;
        if (!utf16_units)
            units += length;
        else
            units += whole && unit.point > 0xFFFF ? 2 : 1;
        if (units > kMaxComponentUnits) return part.substr(0, at);
        at += length;
    }
    return part;
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
