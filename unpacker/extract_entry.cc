#include "unpacker/extract_entry.h"

#include "common/console.h"
#include "common/safe_output.h"
#include "common/system_call.h"

namespace {

// Points `bytes` at the entry's bytes in the window, reading the archive from
// the entry's offset on when they are not all there yet.
Status window_bytes(InputFile& archive, ArchiveWindow& window, int64_t offset, size_t size, const char*& bytes) {
    const bool inside = offset >= window.start &&
                        offset - window.start + static_cast<int64_t>(size) <= static_cast<int64_t>(window.length);
    if (!inside) {
        window.bytes.resize(kWindowSize);
        window.length = 0;
        const int64_t got = read_input_at(archive, window.bytes.data(), kWindowSize, offset);
        if (got < 0) return last_failure(Failure::reading);
        if (got < static_cast<int64_t>(size)) return failed(Failure::reading, 0);
        window.start = offset;
        window.length = static_cast<size_t>(got);
    }
    bytes = window.bytes.data() + (offset - window.start);
    return kSucceeded;
}

// Moves the entry's bytes into the output: small ones from the window,
// large ones by the platform's copy.
Status copy_entry_data(InputFile& archive, ArchiveWindow& window, const PakEntry& entry, SafeOutput& output) {
    if (entry.size <= 0) return kSucceeded;
    if (entry.size > kLongWorkBytes) return safe_output_copy_from(output, archive, entry.offset, entry.size);
    const auto size = static_cast<size_t>(entry.size);
    const char* bytes = nullptr;
    const Status read = window_bytes(archive, window, entry.offset, size, bytes);
    if (!read) return read;
    return safe_output_write(output, bytes, size);
}

}  // namespace

Status extract_entry(InputFile& archive, ArchiveWindow& window, const PakEntry& entry, const std::string& path,
                     const DirectoryHandle& output_directory) {
    SafeOutput output;
    Status status = safe_output_open(output, output_directory, path, kEntryTempPrefix, 0666, entry.size);
    if (status) status = copy_entry_data(archive, window, entry, output);
    if (status) status = safe_output_commit(output);
    return status;
}
