#pragma once

// Judging an archive's directory before anything is written, so that a
// broken or hostile archive writes nothing.

#include <cstddef>
#include <cstdint>
#include <string>

#include "unpacker/pak_format.h"

enum class EntryVerdict { sound, broken, unsafe };

// Judges one entry; on `sound`, `path` is the path its name gives. Within
// one entry a broken region counts before an unsafe name.
EntryVerdict judge_entry(const PakEntry& entry, int64_t file_size, std::string& path);

// Judges every entry of the directory, the first failing one deciding; on
// `broken` or `unsafe`, `failing_entry` is its index. Leaves the directory
// holding the digests by which extraction, reading it again, finds out
// whether it changed in between.
EntryVerdict judge_directory(PakDirectory& directory, int64_t file_size, size_t& failing_entry);
