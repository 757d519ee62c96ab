#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/platform.h"
#include "unpacker/pak_format.h"

enum class ExtractResult { written, open_failed, write_failed };

// A stretch of the archive held in memory. Small entries mostly lie one
// after another, so one read serves many of them and each then costs a
// single write, cheaper than an in-kernel copy of a few kilobytes.
struct ArchiveWindow {
    std::vector<char> bytes;  // allocated at the first small entry, then kept
    int64_t start = 0;
    size_t length = 0;
};

// Entries up to this size go through the window; larger ones are copied by
// the platform's fastest means, so memory use stays fixed.
inline constexpr int32_t kWindowedEntryLimit = 64 * 1024;
inline constexpr size_t kWindowSize = size_t{1} << 20;

// Temporaries begin with this, so one left behind by a crash is recognisable.
inline constexpr const char* kEntryTempPrefix = ".unpacker-";

// Writes one entry's data into `output_directory` (open once for the whole
// run; one that could not be opened makes every entry fail to open) at
// `path`, the entry's name as entry_name_to_path made it. The file gets that
// name only when complete, so a failure never leaves a partial file under it
// and a file that stood there before stays as it was. An entry of size 0 or
// below gives an empty file. The entry must have passed pak_entry_is_intact.
ExtractResult extract_entry(InputFile& archive, ArchiveWindow& window, const PakEntry& entry,
                            const std::string& path, const DirectoryHandle& output_directory);

// The bytes of a small entry (1 byte up to kWindowedEntryLimit), from the
// window, so that it can be written in a batch with others; valid until the
// window moves. Null for an empty or large entry, or when the archive cannot
// be read that far: such an entry goes through extract_entry.
const char* small_entry_bytes(InputFile& archive, ArchiveWindow& window, const PakEntry& entry);
