#include "unpacker/output_directory.h"

namespace {

constexpr size_t kMaxComponentBytes = 255;

bool is_utf8_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest prefix of `part` of at most 255 bytes that does not end
// inside a UTF-8 character. A character is at most four bytes, so at most
// three are given back; a longer run of continuation bytes is no UTF-8 and
// is cut where the limit falls.
std::string_view cut_to_limit(std::string_view part) {
    if (part.size() <= kMaxComponentBytes) return part;
    size_t end = kMaxComponentBytes;
    while (end > kMaxComponentBytes - 3 && is_utf8_continuation(part[end])) --end;
    if (is_utf8_continuation(part[end])) end = kMaxComponentBytes;
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

std::string derive_output_directory(std::string_view archive_path, bool trim_trailing_dots_and_spaces) {
    const size_t drive_end = archive_path.size() >= 2 && archive_path[1] == ':' ? 2 : 0;
    size_t directory_end = drive_end;
    for (size_t at = drive_end; at < archive_path.size(); ++at) {
        if (archive_path[at] == '\\' || archive_path[at] == '/') directory_end = at + 1;
    }
    const std::string_view head = archive_path.substr(0, directory_end);
    const std::string_view last_component = archive_path.substr(directory_end);
    const size_t last_dot = last_component.rfind('.');
    std::string_view base = last_component;
    if (last_dot != std::string_view::npos && !is_only_dots(last_component.substr(0, last_dot)))
        base = last_component.substr(0, last_dot);

    // The directory part is never cut: a shortened one would name some other
    // folder, and the output would land there. A path too long for the
    // system fails when the directory is made, like any other.
    std::string_view kept = cut_to_limit(base);
    if (trim_trailing_dots_and_spaces) kept = without_trailing_dots_and_spaces(kept);
    // A cut or trim can leave nothing or only dots, which Windows drops from
    // the end of a name, so the output would land in the archive's own
    // folder: the whole name is kept then, as for a bare extension.
    if (is_only_dots(kept)) kept = last_component;
    std::string result(head);
    result += kept;
    return result;
}
