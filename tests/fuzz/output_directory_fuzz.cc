// Fuzz target for the derivation of the output directory from an archive's
// path. The input's first 32 bytes are a lead-byte table (one bit per byte
// value, so any double-byte code page can be imitated) and the rest is the
// path; a shorter input is a path under a code page without lead bytes.
// Beyond crashes it checks the promises that keep the output where the user
// expects it: the drive and the directories are kept whole, only the last
// component is shortened, and never into nothing, a bare separator, or the
// parent directory.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "unpacker/output_directory.h"

namespace {

uint8_t lead_table[32];

bool table_lead_byte(unsigned char byte) { return ((lead_table[byte / 8] >> (byte % 8)) & 1) != 0; }

// Stops the run with a message naming the broken promise.
void require(bool holds, const char* promise) {
    if (holds) return;
    std::fprintf(stderr, "output_directory_fuzz: %s\n", promise);
    std::abort();
}

// Length of the character at `at`: a lead byte pairs with a byte after it.
size_t character_at(std::string_view path, size_t at) {
    return table_lead_byte(static_cast<unsigned char>(path[at])) && at + 1 < path.size() ? 2 : 1;
}

bool only_dots(std::string_view text) { return text.find_first_not_of('.') == std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view path(reinterpret_cast<const char*>(data), size);
    for (uint8_t& bits : lead_table) bits = 0;
    if (size >= sizeof lead_table) {
        for (size_t i = 0; i < sizeof lead_table; ++i) lead_table[i] = data[i];
        path.remove_prefix(sizeof lead_table);
    }

    const std::string result = derive_output_directory(path, table_lead_byte);

    // Where the last component begins: past the drive and past the last
    // separator that is a character of its own.
    size_t last_start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
    for (size_t at = last_start; at < path.size();) {
        const size_t length = character_at(path, at);
        if (length == 1 && (path[at] == '\\' || path[at] == '/')) last_start = at + 1;
        at += length;
    }
    const std::string_view last = path.substr(last_start);

    require(path.substr(0, result.size()) == result, "the result is a beginning of the path");
    require(result.size() >= last_start, "the drive and the directories are kept whole");
    const std::string_view kept = std::string_view(result).substr(last_start);
    require(kept.size() <= 255 || kept == last, "the last component is cut to 255 bytes");
    if (last.empty()) {
        require(result == path, "a path ending in a separator or a drive is kept as it is");
        return 0;
    }
    require(!kept.empty(), "a non-empty last component never becomes empty");
    // Windows drops trailing dots: a kept part of only dots would be the
    // archive's own folder, the parent or the current directory.
    require(!only_dots(kept) || kept == last, "only dots are never kept from a longer name");

    // The cut falls on a character boundary, and either at the last '.'
    // (the extension taken off) or at the end or the 255-byte limit.
    size_t at = 0;
    size_t last_dot = std::string_view::npos;
    bool boundary = false;
    while (at < last.size()) {
        if (at == kept.size()) boundary = true;
        const size_t length = character_at(last, at);
        if (length == 1 && last[at] == '.') last_dot = at;
        at += length;
    }
    if (at == kept.size()) boundary = true;
    require(boundary, "a double-byte character is never split");
    const bool at_extension = kept.size() == last_dot;
    const bool at_limit = kept.size() == last.size() || kept.size() + character_at(last, kept.size()) > 255;
    require(at_extension || at_limit, "only the extension or what passes the limit is taken off");
    return 0;
}
