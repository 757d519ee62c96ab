#pragma once

// The PAK archive layout and its reader: an 8-byte header ("PAK0" and a
// signed entry count), then `count` directory entries of 264 bytes, then the
// entries' data, which the directory addresses by absolute offset. All
// integers are 32-bit, little-endian and signed.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/platform.h"
#include "unpacker/siphash.h"

inline constexpr size_t kPakHeaderSize = 8;
inline constexpr size_t kPakEntrySize = 264;
inline constexpr size_t kPakNameSize = 256;
// Directory entries are read this many at a time: few calls for a large
// directory, and a bounded buffer however large it is.
inline constexpr size_t kPakEntriesPerBlock = 1024;

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
//
// A block read for the first time, in order, leaves a digest under a key
// drawn for this directory alone; read again, it must give the same digest,
// so a directory changed after it was judged is broken rather than
// extracted as it now reads.
struct PakDirectory {
    InputFile* archive = nullptr;
    int32_t count = 0;  // 0 for a count of 0 or below
    std::vector<unsigned char> block;
    size_t block_first = 0;  // index of the block's first entry
    size_t block_entries = 0;
    SipKey digest_key;
    std::vector<uint64_t> digests;  // of blocks 0 to digests.size() - 1
    // Cleared once no further block can be extracted (judging saw an entry
    // extraction stops at): blocks after that leave no digest, so memory
    // follows what is extracted, not the count.
    bool keeps_digests = true;
    // Set once judged whole: a block without a digest was never vouched for
    // and no longer reads.
    bool judged = false;
};

// Starts reading the directory of `count` entries that follows the header.
// `broken` when the count says the directory reaches past `file_size`, so
// an absurd count costs nothing. A count of 0 or below is an empty
// directory.
PakStatus open_pak_directory(PakDirectory& directory, InputFile& archive, int32_t count,
                             int64_t file_size);

// Entry `index` (below the count), name descrambled. `broken` when the
// archive cannot be read there, as when it shrank since it was opened, or
// when its block no longer reads as it did the first time.
PakStatus read_pak_directory(PakDirectory& directory, size_t index, PakEntry& entry);

// Where the record of entry `index` begins in the archive. 64-bit from the
// first multiplication: in a 32-bit build a size_t product would wrap past
// 4 GiB, from entry 16,269,313 on, and read another entry's record there.
int64_t pak_record_offset(size_t index);

// Names are stored with byte j XOR j over all 256 bytes; the operation is its
// own inverse, so it also scrambles a name for storage.
void descramble_name(char (&name)[kPakNameSize]);

// Whether the entry can be read from an archive of `file_size` bytes: its
// name must end within its 256 bytes, and data it claims must lie inside
// the file. An entry of size 0 or below reads nothing and fits anywhere.
bool pak_entry_is_intact(const PakEntry& entry, int64_t file_size);
