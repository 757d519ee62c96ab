#include "unpacker/directory_check.h"

#include "unpacker/entry_name.h"

namespace {

// The first entry at or after `index` whose record holds stored data, or
// the count when none does. Records in a hole of a sparse archive are all
// zeros: an empty name, size 0, offset 0, a sound entry.
size_t next_entry_with_data(PakDirectory& directory, size_t index) {
    const auto count = static_cast<size_t>(directory.count);
    const int64_t offset = pak_record_offset(index);
    const int64_t data = next_data_at(*directory.archive, offset);
    if (data <= offset) return index;
    const auto holding = static_cast<uint64_t>(data - static_cast<int64_t>(kPakHeaderSize)) / kPakEntrySize;
    return holding < count ? static_cast<size_t>(holding) : count;
}

}  // namespace

EntryVerdict judge_entry(const PakEntry& entry, int64_t file_size, std::string& path) {
    if (!pak_entry_is_intact(entry, file_size)) return EntryVerdict::broken;
    if (!entry_name_to_path(entry.name, path)) return EntryVerdict::unsafe;
    return EntryVerdict::sound;
}

// The directory is read a block at a time and not kept: memory stays
// bounded whatever the count. Extraction stops at the first empty name (no
// file can have it), so only the blocks up to the one holding it keep a
// digest; after it, holes are skipped, so a sparse archive of any count is
// judged in the time its stored data takes.
EntryVerdict judge_directory(PakDirectory& directory, int64_t file_size, size_t& failing_entry) {
    PakEntry entry;
    std::string path;
    const auto count = static_cast<size_t>(directory.count);
    size_t i = 0;
    while (i < count) {
        if (i % kPakEntriesPerBlock == 0 && !directory.keeps_digests) {
            i = next_entry_with_data(directory, i);
            if (i == count) break;
        }
        failing_entry = i;
        if (read_pak_directory(directory, i, entry) != PakStatus::ok) return EntryVerdict::broken;
        const EntryVerdict verdict = judge_entry(entry, file_size, path);
        if (verdict != EntryVerdict::sound) return verdict;
        if (entry.name[0] == '\0') directory.keeps_digests = false;
        ++i;
    }
    directory.judged = true;
    return EntryVerdict::sound;
}
