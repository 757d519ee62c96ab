#include "unpacker/run_unpacker.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/platform.h"
#include "unpacker/directory_check.h"
#include "unpacker/extract_entry.h"
#include "unpacker/output_directory.h"
#include "unpacker/pak_format.h"
#include "unpacker/queued_entries.h"

namespace {

constexpr const char* kBrokenPak = "broken PAK file\npress enter key.\n";

// Every ending after the archive was opened shows its message, then waits
// for a key so the console stays readable.
int end_with(Console& console, const char* message, int status) {
    console_print(console, "%s", message);
    console_flush(console);
    wait_for_key(console);
    return status;
}

// The last byte of the entry's range as the console shows it: 32-bit
// arithmetic, so an empty entry at offset 0 ends at FFFFFFFF.
uint32_t range_end(const PakEntry& entry) {
    return static_cast<uint32_t>(entry.offset) + static_cast<uint32_t>(entry.size) - 1u;
}

// The line that announces an entry, up to its result: its byte range and
// name.
std::string entry_line(const PakEntry& entry) {
    char range[32];
    std::snprintf(range, sizeof range, "%.8X - %.8X: ", static_cast<uint32_t>(entry.offset), range_end(entry));
    return std::string(range) + entry.name + " ...";
}

// Ends the run after an entry that could not be written.
int end_after_failure(Console& console, ExtractResult result) {
    if (result == ExtractResult::open_failed)
        return end_with(console, "\nfile open error.\npress enter key.\n", kUnpackFailed);
    return end_with(console, "\nfile write error.\npress enter key.\n", kUnpackFailed);
}

}  // namespace

int run_unpacker(int argc, char** argv, Console& console) {
    if (argc != 2) return kUnpackUsageError;

    InputFile archive;
    if (!open_input_file(archive, argv[1])) return kUnpackFailed;
    const int64_t file_size = archive.size;

    PakHeader header;
    PakStatus status = read_pak_header(archive, header);
    if (status == PakStatus::not_pak) return end_with(console, "It isn't PAK file\npress enter key.\n", kUnpackFailed);
    if (status == PakStatus::broken) return end_with(console, kBrokenPak, kUnpackFailed);
    console_print(console, "files: %d\n", static_cast<int>(header.count));

    PakDirectory directory;
    if (open_pak_directory(directory, archive, header.count, file_size) != PakStatus::ok)
        return end_with(console, kBrokenPak, kUnpackFailed);
    size_t failing_entry = 0;
    const EntryVerdict verdict = judge_directory(directory, file_size, failing_entry);
    if (verdict == EntryVerdict::broken) return end_with(console, kBrokenPak, kUnpackFailed);
    if (verdict == EntryVerdict::unsafe) {
        console_print(console, "unsafe file name in entry %d\n", static_cast<int>(failing_entry + 1));
        return end_with(console, "press enter key.\n", kUnpackFailed);
    }

    // Where names lose trailing dots and blanks, they are Windows' names,
    // measured in UTF-16 units.
    const std::string output_path = derive_output_directory(argv[1], names_lose_trailing_dots_and_spaces());
    // An existing directory is used as it is; one that cannot be made shows
    // up as the first entry failing to open.
    create_directory(output_path);
    DirectoryHandle output;
    // With no entries to fail on it, a directory that could not be made
    // must still end the run as an error rather than as a success.
    if (!open_directory(output, output_path) && directory.count == 0)
        return end_after_failure(console, ExtractResult::open_failed);
    ArchiveWindow window;
    // Small entries wait here and are written many at a time; each one's
    // line is printed, in order, once its result is known.
    QueuedEntries queue;
    batch_start(queue.batch, output, kEntryTempPrefix);

    PakEntry entry;
    std::string path;
    ExtractResult result = ExtractResult::written;
    for (size_t i = 0; i < static_cast<size_t>(directory.count); ++i) {
        // Read again, and judged again: the archive may have changed since.
        if (read_pak_directory(directory, i, entry) != PakStatus::ok ||
            judge_entry(entry, file_size, path) != EntryVerdict::sound) {
            result = write_queued_entries(queue, console);
            if (result != ExtractResult::written) return end_after_failure(console, result);
            return end_with(console, kBrokenPak, kUnpackFailed);
        }
        const std::string line = entry_line(entry);
        const char* bytes = small_entry_bytes(archive, window, entry);
        if (bytes != nullptr) {
            const auto size = static_cast<size_t>(entry.size);
            if (queue_entry(queue, path, bytes, size, line)) continue;
            // The queue is full: what waits is written first.
            result = write_queued_entries(queue, console);
            if (result != ExtractResult::written) return end_after_failure(console, result);
            if (queue_entry(queue, path, bytes, size, line)) continue;
        }
        // An empty or large entry is written on its own, after all before it.
        result = write_queued_entries(queue, console);
        if (result != ExtractResult::written) return end_after_failure(console, result);
        console_print(console, "%s", line.c_str());
        // Shown before long work even on a pipe, so `unpacker x.pak | tee
        // log` tells which entry is being written.
        if (entry.size > kWindowedEntryLimit) console_flush(console);
        result = extract_entry(archive, window, entry, path, output);
        if (result != ExtractResult::written) return end_after_failure(console, result);
        console_print(console, "done.\n");
    }
    result = write_queued_entries(queue, console);
    if (result != ExtractResult::written) return end_after_failure(console, result);
    return end_with(console, "successful.\npress enter key.\n", kUnpackSucceeded);
}
