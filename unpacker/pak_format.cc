#include "unpacker/pak_format.h"

#include <cstring>

namespace {

constexpr char kPakMagic[4] = {'P', 'A', 'K', '0'};

// Directory entries are read this many at a time: few calls for a large
// directory, and a bounded buffer however large it is.
constexpr size_t kEntriesPerBlock = 1024;

// Reads until `length` bytes have arrived, the file ends, or a read fails;
// a regular file may still hand back fewer bytes than asked for.
size_t read_fully(InputFile& file, unsigned char* buffer, size_t length) {
    size_t filled = 0;
    while (filled < length) {
        int64_t got = read_input(file, buffer + filled, length - filled);
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    return filled;
}

// Decodes the archive's little-endian signed 32-bit integers whatever the
// host's byte order.
int32_t decode_int32(const unsigned char* bytes) {
    uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                     static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return static_cast<int32_t>(value);
}

// Turns one stored 264-byte record into an entry with a readable name.
void decode_entry(const unsigned char* record, PakEntry& entry) {
    std::memcpy(entry.name, record, kPakNameSize);
    descramble_name(entry.name);
    entry.size = decode_int32(record + kPakNameSize);
    entry.offset = decode_int32(record + kPakNameSize + 4);
}

}  // namespace

PakStatus read_pak_header(InputFile& archive, PakHeader& header) {
    unsigned char bytes[kPakHeaderSize];
    size_t got = read_fully(archive, bytes, 4);
    if (got < 4 || std::memcmp(bytes, kPakMagic, 4) != 0) return PakStatus::not_pak;
    std::memcpy(header.magic, bytes, 4);
    if (read_fully(archive, bytes + 4, 4) < 4) return PakStatus::broken;
    header.count = decode_int32(bytes + 4);
    return PakStatus::ok;
}

PakStatus read_pak_directory(InputFile& archive, int32_t count, int64_t file_size,
                             std::vector<PakEntry>& entries) {
    entries.clear();
    if (count <= 0) return PakStatus::ok;
    int64_t directory_end = static_cast<int64_t>(kPakHeaderSize) +
                            static_cast<int64_t>(kPakEntrySize) * static_cast<int64_t>(count);
    if (file_size < directory_end) return PakStatus::broken;

    size_t total = static_cast<size_t>(count);
    entries.resize(total);
    // No bigger than the directory: a small archive costs a small buffer.
    std::vector<unsigned char> block((total < kEntriesPerBlock ? total : kEntriesPerBlock) * kPakEntrySize);
    for (size_t first = 0; first < total; first += kEntriesPerBlock) {
        size_t in_block = total - first < kEntriesPerBlock ? total - first : kEntriesPerBlock;
        size_t length = in_block * kPakEntrySize;
        // The size was checked, but the file may have shrunk since.
        if (read_fully(archive, block.data(), length) < length) {
            entries.clear();
            return PakStatus::broken;
        }
        for (size_t i = 0; i < in_block; ++i) decode_entry(block.data() + i * kPakEntrySize, entries[first + i]);
    }
    return PakStatus::ok;
}

void descramble_name(char (&name)[kPakNameSize]) {
    for (size_t j = 0; j < kPakNameSize; ++j) {
        name[j] = static_cast<char>(static_cast<unsigned char>(name[j]) ^ static_cast<unsigned char>(j));
    }
}

bool pak_entry_is_intact(const PakEntry& entry, int64_t file_size) {
    if (std::memchr(entry.name, '\0', kPakNameSize) == nullptr) return false;
    if (entry.size <= 0) return true;
    if (entry.offset < 0) return false;
    return static_cast<int64_t>(entry.offset) + entry.size <= file_size;
}
