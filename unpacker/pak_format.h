#pragma once

// The PAK archive layout and its reader: an 8-byte header ("PAK0" and a
// signed entry count), then `count` directory entries of 264 bytes, then the
// entries' data, which the directory addresses by absolute offset. All
// integers are 32-bit, little-endian and signed.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/platform.h"

inline constexpr size_t kPakHeaderSize = 8;
inline constexpr size_t kPakEntrySize = 264;
inline constexpr size_t kPakNameSize = 256;

struct PakHeader {
    int32_t count = 0;
};

struct PakEntry {
    char name[kPakNameSize] = {};  // descrambled once read
    int32_t size = 0;
    int32_t offset = 0;
};

enum class PakStatus {
    ok,
    not_pak,  // the first four bytes are not "PAK0"
    broken,   // truncated, unreadable, or inconsistent with the file's size
};

// Reads the header from the start of `archive`. `not_pak` when the first four
// bytes are anything but "PAK0" (a file shorter than that included); `broken`
// when the file ends inside the count.
PakStatus read_pak_header(InputFile& archive, PakHeader& header);

// The directory, read from the archive a block of entries at a time: memory
// stays the same whatever the count, and the whole directory can be read as
// often as needed (once to judge it, once to extract).
struct PakDirectory {
    InputFile* archive = nullptr;
    int32_t count = 0;  // 0 for a count of 0 or below
    std::vector<unsigned char> block;
    size_t block_first = 0;  // index of the block's first entry
    size_t block_entries = 0;
};

// Starts reading the directory of `count` entries that follows the header.
// `broken` when the count says the directory reaches past `file_size`, so
// an absurd count costs nothing. A count of 0 or below is an empty
// directory.
PakStatus open_pak_directory(PakDirectory& directory, InputFile& archive, int32_t count,
                             int64_t file_size);

// Entry `index` (below the count), name descrambled. `broken` when the
// archive cannot be read there, as when it shrank since it was opened.
PakStatus read_pak_directory(PakDirectory& directory, size_t index, PakEntry& entry);

// Names are stored with byte j XOR j over all 256 bytes; the operation is its
// own inverse, so it also scrambles a name for storage.
void descramble_name(char (&name)[kPakNameSize]);

// Whether the entry can be read from an archive of `file_size` bytes: its
// name must end within its 256 bytes, and data it claims must lie inside
// the file. An entry of size 0 or below reads nothing and fits anywhere.
bool pak_entry_is_intact(const PakEntry& entry, int64_t file_size);
