// Fuzz target for the archive reader and the entry name checks: the input is
// a whole archive file. Archives come from anywhere, so beyond crashes and
// timeouts it checks what the unpacker relies on: the header and directory
// say exactly what the bytes hold, a directory read as sound fits in the
// file, and a name passed as safe can reach nothing outside the output
// directory.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/pak_writer.h"
#include "unpacker/entry_name.h"
#include "unpacker/pak_format.h"

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// The reader takes a path, so each input becomes a file: an in-memory one
// where the system has them, else one temporary file reused for every input.
std::string store_input(const uint8_t* data, size_t size) {
#ifdef __linux__
    static const int fd = memfd_create("pak_reader_fuzz", 0);
    if (fd >= 0) {
        require(ftruncate(fd, 0) == 0, "input file emptied");
        size_t done = 0;
        while (done < size) {
            const ssize_t put = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            require(put > 0, "input file written");
            done += static_cast<size_t>(put);
        }
        return "/proc/self/fd/" + std::to_string(fd);
    }
#endif
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("pak_reader_fuzz-" + std::to_string(std::random_device{}()) + ".pak"))
            .string();
    FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr, "input file created");
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    require(std::fclose(file) == 0 && written, "input file written");
    return path;
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Device names that Windows opens in every directory, whatever follows a dot.
bool names_a_device(std::string_view component) {
    std::string stem(component.substr(0, component.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
        stem == "CONOUT$")
        return true;
    if (stem.rfind("COM", 0) != 0 && stem.rfind("LPT", 0) != 0) return false;
    const std::string port = stem.substr(3);
    return (port.size() == 1 && ((port[0] >= '0' && port[0] <= '9') || port == "\xB9" || port == "\xB2" ||
                                 port == "\xB3")) ||
           port == "\xC2\xB9" || port == "\xC2\xB2" || port == "\xC2\xB3";
}

// Whether a lead byte at `at`, with all the continuation bytes it announces,
// spells something in a form that is no character: overlong (C0, C1; E0 or
// F0 below their least second byte), a surrogate (ED A0 and up), or beyond
// U+10FFFF (F4 90 and up, F5 to F7). Read off the table of well-formed
// UTF-8, not computed.
bool imitates_a_character(std::string_view name, size_t at) {
    const auto lead = static_cast<unsigned char>(name[at]);
    size_t length = 0;
    if (lead >= 0xC0) length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 0;
    if (length == 0 || at + length > name.size()) return false;
    for (size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(name[at + k]) & 0xC0) != 0x80) return false;
    const auto second = static_cast<unsigned char>(name[at + 1]);
    return lead == 0xC0 || lead == 0xC1 || (lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
           (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90) || lead >= 0xF5;
}

// The name rules written the slow, obvious way: whether `name` could reach
// outside the output directory or open a device.
bool reference_unsafe(std::string_view name) {
    if (name.empty()) return false;
    if (is_separator(name.front())) return true;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ':' || byte < 0x20 || byte == 0x7F) return true;
    }
    for (size_t at = 0; at < name.size(); ++at)
        if (imitates_a_character(name, at)) return true;
    // The C1 controls U+0080 to U+009F, as UTF-8.
    for (unsigned char second = 0x80; second <= 0x9F; ++second) {
        const char c1[] = {'\xC2', static_cast<char>(second), '\0'};
        if (name.find(c1) != std::string_view::npos) return true;
    }
    size_t start = 0;
    for (size_t at = 0; at <= name.size(); ++at) {
        if (at < name.size() && !is_separator(name[at])) continue;
        const std::string_view component = name.substr(start, at - start);
        const bool loses_its_end = component != "." && !component.empty() &&
                                   (component.back() == '.' || component.back() == ' ');
        if (loses_its_end || names_a_device(component)) return true;
        start = at + 1;
    }
    return false;
}

// A safe name's path keeps every byte in place but for its "." components
// that a separator follows, which are dropped; the separators become the
// platform's. An unsafe name has no path.
void check_path(std::string_view name) {
    std::string path;
    const bool made = entry_name_to_path(name, path);
    require(made == !reference_unsafe(name), "a path is made exactly for a safe name");
    if (!made) return;
    std::string wanted;
    size_t start = 0;
    for (size_t at = 0; at <= name.size(); ++at) {
        if (at < name.size() && !is_separator(name[at])) continue;
        const std::string_view component = name.substr(start, at - start);
        // An empty component left at the start by the dropped ones goes too.
        const bool dropped = component == "." || (component.empty() && wanted.empty());
        if (at == name.size() || !dropped) {
            wanted += component;
            if (at < name.size()) wanted += path_separator();
        }
        start = at + 1;
    }
    require(path == wanted, "only separators change, and \".\" components before one go, and the empty ones after");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputFile archive;
    require(static_cast<bool>(open_input_file(archive, store_input(data, size))), "the input opens");
    const int64_t file_size = archive.size;
    require(file_size == static_cast<int64_t>(size), "the size is the input's");

    PakHeader header;
    const PakStatus status = read_pak_header(archive, header);
    const bool magic = size >= 4 && std::memcmp(data, "PAK0", 4) == 0;
    if (!magic) {
        require(status == PakStatus::not_pak, "anything but PAK0 is no archive");
        return 0;
    }
    if (size < kPakHeaderSize) {
        require(status == PakStatus::broken, "an archive ending in its count is broken");
        return 0;
    }
    require(status == PakStatus::ok, "a whole header reads");
    require(header.count == stored_int32(data + 4), "the count is as stored");

    PakDirectory directory;
    const PakStatus opened = open_pak_directory(directory, archive, header.count, file_size);
    const uint64_t wanted = header.count > 0 ? static_cast<uint64_t>(header.count) : 0;
    const bool fits = kPakHeaderSize + wanted * kPakEntrySize <= size;
    require((opened == PakStatus::ok) == fits, "a directory opens exactly when the file holds it");
    if (opened != PakStatus::ok) return 0;
    require(static_cast<uint64_t>(directory.count) == wanted, "a sound directory has max(count, 0) entries");

    PakEntry entry;
    for (size_t i = 0; i < wanted; ++i) {
        require(read_pak_directory(directory, i, entry) == PakStatus::ok, "every entry of a sound directory reads");
        const uint8_t* record = data + kPakHeaderSize + i * kPakEntrySize;
        for (size_t j = 0; j < kPakNameSize; ++j) {
            require(static_cast<uint8_t>(entry.name[j]) == (record[j] ^ static_cast<uint8_t>(j)),
                    "each name byte is stored XOR its position");
        }
        require(entry.size == stored_int32(record + 256) && entry.offset == stored_int32(record + 260),
                "size and offset are as stored");

        const void* end = std::memchr(entry.name, '\0', kPakNameSize);
        const bool region_inside = entry.size <= 0 ||
            (entry.offset >= 0 && static_cast<int64_t>(entry.offset) + entry.size <= file_size);
        require(pak_entry_is_intact(entry, file_size) == (end != nullptr && region_inside),
                "an entry is intact exactly when its name ends and its data lies in the file");
        if (end == nullptr) continue;

        const std::string_view name(entry.name);
        require(is_unsafe_entry_name(name) == reference_unsafe(name),
                "a name is refused exactly when it is absolute, holds ':', a control character or a form "
                "imitating a character, or has a device component or one other than '.' ending in a dot or blank");
        check_path(name);
    }
    return 0;
}
