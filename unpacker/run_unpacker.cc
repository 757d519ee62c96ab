#include "unpacker/run_unpacker.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/directory.h"
#include "common/durability.h"
#include "common/input_file.h"
#include "common/name_rules.h"
#include "common/path.h"
#include "unpacker/directory_check.h"
#include "unpacker/extract_entry.h"
#include "unpacker/output_directory.h"
#include "unpacker/pak_format.h"
#include "unpacker/unpacker_texts.h"

namespace {

// The last byte of the entry's range as the console shows it: 32-bit
// arithmetic, so an empty entry at offset 0 ends at FFFFFFFF.
uint32_t range_end(const PakEntry& entry) {
    return static_cast<uint32_t>(entry.offset) + static_cast<uint32_t>(entry.size) - 1u;
}

// Ends a run that may have written files: they go to disk first, and one
// that could not turns what would have been "successful." into a write error.
int finish_after_writing(Console& console, WrittenFileSystems& written, const char* message, int status) {
    const Status flushed = flush_written(written);
    if (!flushed && status == kUnpackSucceeded) return finish_run(console, failure_text(flushed), kUnpackFailed);
    return finish_run(console, message, status);
}

// Writes every entry in order, each on its line, and ends the run at the
// first that fails. The output directory, which the run may have made, is
// noted for the flush first; the folder each file stands in is noted once
// per stretch of entries in one folder, not once per file.
int extract_entries(InputFile& archive, PakDirectory& directory, int64_t file_size, const DirectoryHandle& output,
                    Console& console) {
    ArchiveWindow window;
    WrittenFileSystems written;
    std::string noted_folder;
    const bool noted = output.is_open();
    if (noted) note_written(written, output, noted_folder);
    PakEntry entry;
    std::string path;
    for (size_t i = 0; i < static_cast<size_t>(directory.count); ++i) {
        // Read again, and judged again: the archive may have changed since.
        if (read_pak_directory(directory, i, entry) != PakStatus::ok ||
            judge_entry(entry, file_size, path) != EntryVerdict::sound)
            return finish_after_writing(console, written, kBrokenPak, kUnpackFailed);
        console_print(console, "%.8X - %.8X: ", static_cast<uint32_t>(entry.offset), range_end(entry));
        console_print_stored_name(console, entry.name);
        console_print(console, " ...");
        show_before_work(console, entry.size);
        const Status extracted = extract_entry(archive, window, entry, path, output);
        if (!extracted) return finish_after_writing(console, written, failure_text(extracted), kUnpackFailed);
        const std::string_view folder = split_path(path).directory;
        if (noted && folder != noted_folder) {
            noted_folder = folder;
            note_written(written, output, noted_folder);
        }
        console_print(console, "%s", kEntryDone);
    }
    return finish_after_writing(console, written, kSuccessful, kUnpackSucceeded);
}

}  // namespace

int run_unpacker(int argc, char** argv, Console& console) {
    if (argc != 2) return kUnpackUsageError;

    InputFile archive;
    if (!open_input_file(archive, argv[1])) return kUnpackFailed;
    const int64_t file_size = archive.size;

    PakHeader header;
    PakStatus status = read_pak_header(archive, header);
    if (status == PakStatus::not_pak) return finish_run(console, kNotPak, kUnpackFailed);
    if (status == PakStatus::broken) return finish_run(console, kBrokenPak, kUnpackFailed);
    console_print(console, "files: %d\n", static_cast<int>(header.count));

    PakDirectory directory;
    if (open_pak_directory(directory, archive, header.count, file_size) != PakStatus::ok)
        return finish_run(console, kBrokenPak, kUnpackFailed);
    size_t failing_entry = 0;
    const EntryVerdict verdict = judge_directory(directory, file_size, failing_entry);
    if (verdict == EntryVerdict::broken) return finish_run(console, kBrokenPak, kUnpackFailed);
    if (verdict == EntryVerdict::unsafe) {
        char message[64];
        std::snprintf(message, sizeof message, "unsafe file name in entry %d", static_cast<int>(failing_entry + 1));
        return finish_run(console, message, kUnpackFailed);
    }

    // Where names lose trailing dots and blanks, they are Windows' names,
    // measured in UTF-16 units.
    const std::string output_path = derive_output_directory(argv[1], names_lose_trailing_dots_and_spaces());
    // An existing directory is used as it is; one that cannot be made shows
    // up as the first entry failing to open. The name is the program's own,
    // so a link standing there is never followed.
    create_directory(output_path);
    DirectoryHandle output;
    const Status opened = open_derived_directory(output, output_path);
    // With no entries to fail on it, a directory that could not be made
    // must still end the run as an error rather than as a success.
    if (!opened && directory.count == 0) return finish_run(console, failure_text(opened), kUnpackFailed);
    return extract_entries(archive, directory, file_size, output, console);
}
