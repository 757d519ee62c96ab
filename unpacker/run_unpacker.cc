#include "unpacker/run_unpacker.h"

#include <cstdint>
#include <string>
#include <vector>

#include "common/platform.h"
#include "unpacker/entry_name.h"
#include "unpacker/extract_entry.h"
#include "unpacker/output_directory.h"
#include "unpacker/pak_format.h"

namespace {

// Every ending after the archive was opened shows its message, then waits
// for a key so the console stays readable.
int end_with(Console& console, const char* message, int status) {
    console_print(console, "%s", message);
    console_flush(console);
    wait_for_key(console);
    return status;
}

enum class DirectoryVerdict { sound, broken, unsafe };

// Checks the whole directory before anything is created, so a broken or
// hostile archive writes nothing. The first failing entry decides, and
// within one entry a broken region counts before an unsafe name.
DirectoryVerdict judge_directory(const std::vector<PakEntry>& entries, int64_t file_size,
                                 size_t& failing_entry) {
    for (size_t i = 0; i < entries.size(); ++i) {
        failing_entry = i;
        if (!pak_entry_is_intact(entries[i], file_size)) return DirectoryVerdict::broken;
        if (is_unsafe_entry_name(entries[i].name)) return DirectoryVerdict::unsafe;
    }
    return DirectoryVerdict::sound;
}

// The last byte of the entry's range as the console shows it: 32-bit
// arithmetic, so an empty entry at offset 0 ends at FFFFFFFF.
uint32_t range_end(const PakEntry& entry) {
    return static_cast<uint32_t>(entry.offset) + static_cast<uint32_t>(entry.size) - 1u;
}

}  // namespace

int run_unpacker(int argc, char** argv, Console& console) {
    if (argc != 2) return kUnpackUsageError;

    InputFile archive;
    if (!open_input_file(archive, argv[1])) return kUnpackFailed;
    int64_t file_size = input_file_size(archive);
    if (file_size < 0) return kUnpackFailed;

    PakHeader header;
    PakStatus status = read_pak_header(archive, header);
    if (status == PakStatus::not_pak) return end_with(console, "It isn't PAK file\npress enter key.\n", kUnpackFailed);
    if (status == PakStatus::broken) return end_with(console, "broken PAK file\npress enter key.\n", kUnpackFailed);
    console_print(console, "files: %d\n", static_cast<int>(header.count));

    std::vector<PakEntry> entries;
    if (read_pak_directory(archive, header.count, file_size, entries) != PakStatus::ok) {
        return end_with(console, "broken PAK file\npress enter key.\n", kUnpackFailed);
    }
    size_t failing_entry = 0;
    DirectoryVerdict verdict = judge_directory(entries, file_size, failing_entry);
    if (verdict == DirectoryVerdict::broken) {
        return end_with(console, "broken PAK file\npress enter key.\n", kUnpackFailed);
    }
    if (verdict == DirectoryVerdict::unsafe) {
        console_print(console, "unsafe file name in entry %d\n", static_cast<int>(failing_entry + 1));
        return end_with(console, "press enter key.\n", kUnpackFailed);
    }

    std::string output_directory = derive_output_directory(argv[1], is_lead_byte);
    // An existing directory is used as it is; one that cannot be made shows
    // up as the first entry failing to open.
    create_directory(output_directory);
    OutputDirectory output;
    open_output_directory(output, output_directory);
    ArchiveWindow window;

    for (const PakEntry& entry : entries) {
        console_print(console, "%.8X - %.8X: %s ...", static_cast<uint32_t>(entry.offset), range_end(entry),
                      entry.name);
        ExtractResult result = extract_entry(archive, window, entry, output);
        if (result == ExtractResult::open_failed) {
            return end_with(console, "\nfile open error.\npress enter key.\n", kUnpackFailed);
        }
        if (result == ExtractResult::write_failed) {
            return end_with(console, "\nfile write error.\npress enter key.\n", kUnpackFailed);
        }
        console_print(console, "done.\n");
    }
    return end_with(console, "successful.\npress enter key.\n", kUnpackSucceeded);
}
