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
    char magic[4] = {};
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
// when the file ends inside the count. Leaves the read position just after
// the header, where the directory begins.
PakStatus read_pak_header(InputFile& archive, PakHeader& header);

// Reads `count` entries straight on from the header, in large blocks, and
// descrambles their names. The count is checked against `file_size` before
// anything is allocated, so an absurd count costs no memory. A count of 0 or
// below is an empty directory.
PakStatus read_pak_directory(InputFile& archive, int32_t count, int64_t file_size,
                             std::vector<PakEntry>& entries);

// Names are stored with byte j XOR j over all 256 bytes; the operation is its
// own inverse, so it also scrambles a name for storage.
void descramble_name(char (&name)[kPakNameSize]);

// Whether the entry can be read from an archive of `file_size` bytes: its
// name must end within its 256 bytes, and data it claims must lie inside
// the file. An entry of size 0 or below reads nothing and fits anywhere.
bool pak_entry_is_intact(const PakEntry& entry, int64_t file_size);
