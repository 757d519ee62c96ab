#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/directory.h"
#include "common/input_file.h"
#include "common/status.h"
#include "unpacker/pak_format.h"

// A stretch of the archive held in memory. Small entries mostly lie one
// after another, so one read serves many of them and each then costs a
// single write, cheaper than an in-kernel copy of a few kilobytes. Entries
// that are long work (console.h's kLongWorkBytes) are copied by the
// platform's fastest means instead, so memory use stays fixed.
struct ArchiveWindow {
    std::vector<char> bytes;  // allocated at the first small entry, then kept
    int64_t start = 0;
    size_t length = 0;
};

inline constexpr size_t kWindowSize = size_t{1} << 20;

// Temporaries begin with this, so one left behind by a crash is recognisable.
inline constexpr const char* kEntryTempPrefix = ".unpacker-";

// Writes one entry's data into `output_directory` (open once for the whole
// run; one that could not be opened makes every entry fail with
// Failure::directory) at `path`, the entry's name as entry_name_to_path made
// it, through the safe output (safe_output.h tells what each failure means).
// The file gets that name only when complete, so a failure never leaves a
// partial file under it and a file that stood there before stays as it was.
// An entry of size 0 or below gives an empty file. The entry must have
// passed pak_entry_is_intact; an archive that cannot be read, or ends before
// the entry does, is Failure::reading.
Status extract_entry(InputFile& archive, ArchiveWindow& window, const PakEntry& entry, const std::string& path,
                     const DirectoryHandle& output_directory);
