#pragma once

#include <string>

#include "common/platform.h"
#include "unpacker/pak_format.h"

enum class ExtractResult { written, open_failed, write_failed };

// Writes one entry's data into `output_directory` under the entry's name,
// through a temporary beside the final name that is renamed over it only
// when complete, so a failure never leaves a partial file under that name
// and a file that stood there before stays as it was. An entry of size 0 or
// below gives an empty file. The entry must have passed pak_entry_is_intact
// and is_unsafe_entry_name.
ExtractResult extract_entry(InputFile& archive, const PakEntry& entry,
                            const std::string& output_directory);
