#include "unpacker/extract_entry.h"

#include "common/safe_output.h"

namespace {

// Points at the entry's bytes in the window, reading the archive from the
// entry's offset on when they are not all there yet. Null when the archive
// cannot be read or ends before the entry does.
const char* window_bytes(InputFile& archive, ArchiveWindow& window, int64_t offset, size_t size) {
    const bool inside = offset >= window.start &&
                        offset - window.start + static_cast<int64_t>(size) <=
                            static_cast<int64_t>(window.length);
    if (!inside) {
        window.bytes.resize(kWindowSize);
        window.length = 0;
        const int64_t got = read_input_at(archive, window.bytes.data(), kWindowSize, offset);
        if (got < static_cast<int64_t>(size)) return nullptr;
        window.start = offset;
        window.length = static_cast<size_t>(got);
    }
    return window.bytes.data() + (offset - window.start);
}

// Moves the entry's bytes into the output: small ones from the window,
// large ones by the platform's copy.
bool copy_entry_data(InputFile& archive, ArchiveWindow& window, const PakEntry& entry,
                     SafeOutput& output) {
    if (entry.size <= 0) return true;
    if (entry.size > kWindowedEntryLimit)
        return static_cast<bool>(safe_output_copy_from(output, archive, entry.offset, entry.size));
    const auto size = static_cast<size_t>(entry.size);
    const char* bytes = window_bytes(archive, window, entry.offset, size);
    return bytes != nullptr && safe_output_write(output, bytes, size);
}

}  // namespace

ExtractResult extract_entry(InputFile& archive, ArchiveWindow& window, const PakEntry& entry,
                            const std::string& path, const DirectoryHandle& output_directory) {
    SafeOutput output;
    if (!safe_output_open(output, output_directory, path, kEntryTempPrefix)) return ExtractResult::open_failed;
    if (!copy_entry_data(archive, window, entry, output)) return ExtractResult::write_failed;
    switch (safe_output_commit(output)) {
        case CommitResult::committed: return ExtractResult::written;
        // Found only now, but to the user a directory or a read-only file at
        // the name is a file that could not be opened; nothing was written.
        case CommitResult::cannot_replace: return ExtractResult::open_failed;
        case CommitResult::failed: break;
    }
    return ExtractResult::write_failed;
}

const char* small_entry_bytes(InputFile& archive, ArchiveWindow& window, const PakEntry& entry) {
    if (entry.size <= 0 || entry.size > kWindowedEntryLimit) return nullptr;
    return window_bytes(archive, window, entry.offset, static_cast<size_t>(entry.size));
}
