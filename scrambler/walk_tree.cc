#include "scrambler/walk_tree.h"

#include <vector>

#include "common/platform.h"
#include "scrambler/scramble_file.h"

namespace {

// Names already carrying the copies' prefix, in any letter case, are copies
// (or their temporaries) and never sources.
bool is_scrambled_name(const std::string& name) {
    if (name.size() < 3) return false;
    return name[0] == '_' && (name[1] == 'o' || name[1] == 'O') && name[2] == '_';
}

// One file: its name, the work, then the result word on the same line. The
// directory is opened for the first copy written into it and kept for the
// rest.
bool handle_file(const std::string& directory, OutputDirectory& output, const DirEntry& entry,
                 Console& console) {
    console_print(console, "%s ...", entry.name.c_str());
    if (!output.is_open) open_output_directory(output, directory);
    // A FIFO, socket or device is never opened: reading one could block.
    const bool done = entry.kind == EntryKind::regular && output.is_open &&
                      scramble_file_at(directory + entry.name, output, "_o_" + entry.name) == 0;
    console_print(console, done ? "done.\n" : "error.\n");
    return done;
}

}  // namespace

// Each listing is read whole before its entries are handled, so the copies
// written here cannot disturb it and no handle stays open per level.
bool walk_tree(const std::string& directory, const std::string& pattern, Console& console) {
    bool all_done = true;
    std::vector<DirEntry> entries;
    if (list_directory(directory, pattern, entries)) {
        OutputDirectory output;
        for (const DirEntry& entry : entries) {
            if (entry.kind == EntryKind::directory) continue;
            if (is_scrambled_name(entry.name)) continue;
            if (!handle_file(directory, output, entry, console)) all_done = false;
        }
    }
    if (!list_directory(directory, "*.*", entries)) return all_done;
    for (const DirEntry& entry : entries) {
        // Links and junctions are not walked: they could loop or leave the tree.
        if (entry.kind != EntryKind::directory || entry.is_link) continue;
        if (!walk_tree(directory + entry.name + kPathSeparator, pattern, console)) all_done = false;
    }
    return all_done;
}
