#include "unpacker/pak_format.h"

#include <cstring>

#include "common/test_hooks.h"

namespace {

constexpr char kPakMagic[4] = {'P', 'A', 'K', '0'};

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

// Compares the block just read with its digest, or leaves one when it is
// read for the first time in order while digests are kept.
bool block_reads_as_before(PakDirectory& directory, size_t block_index, size_t length) {
    const size_t known = directory.digests.size();
    if (block_index > known || (block_index == known && !directory.keeps_digests)) return !directory.judged;
    const uint64_t digest = siphash24(directory.digest_key, directory.block.data(), length);
    if (block_index < known) return directory.digests[block_index] == digest;
    directory.digests.push_back(digest);
    return true;
}

}  // namespace

PakStatus read_pak_header(InputFile& archive, PakHeader& header) {
    unsigned char bytes[kPakHeaderSize];
    const int64_t got = read_input_at(archive, bytes, kPakHeaderSize, 0);
    if (got < 4 || std::memcmp(bytes, kPakMagic, 4) != 0) return PakStatus::not_pak;
    if (got < static_cast<int64_t>(kPakHeaderSize)) return PakStatus::broken;
    header.count = decode_int32(bytes + 4);
    return PakStatus::ok;
}

PakStatus open_pak_directory(PakDirectory& directory, InputFile& archive, int32_t count,
                             int64_t file_size) {
    directory.archive = &archive;
    directory.count = count > 0 ? count : 0;
    directory.block_first = 0;
    directory.block_entries = 0;
    directory.digest_key = random_sip_key();
    directory.digests.clear();
    directory.keeps_digests = true;
    directory.judged = false;
    const int64_t directory_end = static_cast<int64_t>(kPakHeaderSize) +
                                  static_cast<int64_t>(kPakEntrySize) * directory.count;
    if (file_size < directory_end) return PakStatus::broken;
    // No bigger than the directory: a small archive costs a small buffer.
    const size_t entries = static_cast<size_t>(directory.count);
    directory.block.resize((entries < kPakEntriesPerBlock ? entries : kPakEntriesPerBlock) * kPakEntrySize);
    return PakStatus::ok;
}

PakStatus read_pak_directory(PakDirectory& directory, size_t index, PakEntry& entry) {
    const auto count = static_cast<size_t>(directory.count);
    if (index >= count) return PakStatus::broken;
    if (index < directory.block_first || index >= directory.block_first + directory.block_entries) {
        const size_t first = index - index % kPakEntriesPerBlock;
        const size_t entries = count - first < kPakEntriesPerBlock ? count - first : kPakEntriesPerBlock;
        const size_t length = entries * kPakEntrySize;
        const int64_t offset = pak_record_offset(first);
        directory.block_entries = 0;
        if (directory_block_hook != nullptr) directory_block_hook(first);
        // The size was checked, but the file may have shrunk since.
        if (read_input_at(*directory.archive, directory.block.data(), length, offset) !=
            static_cast<int64_t>(length))
            return PakStatus::broken;
        if (!block_reads_as_before(directory, first / kPakEntriesPerBlock, length)) return PakStatus::broken;
        directory.block_first = first;
        directory.block_entries = entries;
    }
    decode_entry(directory.block.data() + (index - directory.block_first) * kPakEntrySize, entry);
    return PakStatus::ok;
}

int64_t pak_record_offset(size_t index) {
    return static_cast<int64_t>(kPakHeaderSize) + static_cast<int64_t>(index) * static_cast<int64_t>(kPakEntrySize);
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
