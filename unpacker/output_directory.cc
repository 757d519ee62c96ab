#include "unpacker/output_directory.h"

namespace {

constexpr size_t kMaxComponentBytes = 255;

// Bytes taken by the character starting at `at`: a lead byte with a byte
// after it makes a pair.
size_t character_length(std::string_view path, size_t at, LeadByteTest is_lead) {
    bool pair = is_lead(static_cast<unsigned char>(path[at])) && at + 1 < path.size();
    return pair ? 2 : 1;
}

// The longest prefix of `part` of at most 255 bytes that ends on a character
// boundary.
std::string_view cut_to_limit(std::string_view part, LeadByteTest is_lead) {
    size_t end = 0;
    while (end < part.size()) {
        size_t next = end + character_length(part, end, is_lead);
        if (next > kMaxComponentBytes) break;
        end = next;
    }
    return part.substr(0, end);
}

// A base name of nothing but dots would name the current or parent
// directory, or nothing at all.
bool is_only_dots(std::string_view text) { return text.find_first_not_of('.') == std::string_view::npos; }

}  // namespace

std::string derive_output_directory(std::string_view archive_path, LeadByteTest is_lead) {
    size_t drive_end = archive_path.size() >= 2 && archive_path[1] == ':' ? 2 : 0;

    // One pass over whole characters: where the directory ends, and the
    // last '.' after it.
    size_t directory_end = drive_end;
    size_t last_dot = std::string_view::npos;
    for (size_t at = drive_end; at < archive_path.size();) {
        size_t length = character_length(archive_path, at, is_lead);
        if (length == 1) {
            char c = archive_path[at];
            if (c == '\\' || c == '/') {
                directory_end = at + 1;
                last_dot = std::string_view::npos;
            } else if (c == '.') {
                last_dot = at;
            }
        }
        at += length;
    }

    std::string_view drive = archive_path.substr(0, drive_end);
    std::string_view directory = archive_path.substr(drive_end, directory_end - drive_end);
    std::string_view last_component = archive_path.substr(directory_end);
    std::string_view base = last_component;
    if (last_dot != std::string_view::npos) {
        std::string_view before_dot = archive_path.substr(directory_end, last_dot - directory_end);
        if (!is_only_dots(before_dot)) base = before_dot;
    }

    // The directory part is never cut: a shortened one would name some other
    // folder, and the output would land there. A path too long for the
    // system fails when the directory is made, like any other.
    std::string_view kept = cut_to_limit(base, is_lead);
    // A cut can leave only dots, which Windows drops from the end of a name,
    // so the output would land in the archive's own folder: the whole name
    // is kept then, as for a bare extension.
    if (is_only_dots(kept)) kept = last_component;
    std::string result(drive);
    result += directory;
    result += kept;
    return result;
}
