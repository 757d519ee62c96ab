#include "scrambler/walk_tree.h"

#include <deque>
#include <string>
#include <string_view>

#include "common/ascii_case.h"
#include "common/test_hooks.h"
#include "common/wildcard.h"
#include "scrambler/scramble_file.h"
#include "scrambler/scrambler_texts.h"

namespace {

WalkHook g_walk_hook = nullptr;

// Names already carrying the copies' prefix, in any letter case, are copies
// (or their temporaries) and never sources.
bool is_scrambled_name(std::string_view name) {
    const std::string_view prefix = kCopyPrefix;
    if (name.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (fold_ascii_case(name[i]) != prefix[i]) return false;
    return true;
}

// One file: its name, the copy, then the result word on the same line. The
// source is opened through the directory's handle, and a name the listing
// saw as no link is never followed, should a link appear there since.
bool scramble_listed_file(const DirectoryHandle& directory, const std::string& name, const DirEntry& entry,
                          Console& console) {
    console_print_name(console, name);
    console_print(console, " ...");
    if (g_walk_hook != nullptr) g_walk_hook(name);
    InputFile source;
    // A FIFO, socket or device is never opened: reading one could block.
    Status status = entry.kind == EntryKind::regular ? open_input_file_at(source, directory, name, entry.is_link)
                                                     : failed(Failure::reading, 0);
    if (status) {
        show_before_work(console, source.size);
        status = scramble_into(source, directory, kCopyPrefix + name);
    }
    console_print(console, "%s", file_result_text(status));
    return static_cast<bool>(status);
}

// One open directory of the walk: its handle (the top one is the caller's),
// the subdirectories still to walk and how far the walk has got in them.
struct Level {
    DirectoryHandle own;
    const DirectoryHandle* directory = nullptr;
    DirListing subdirectories;
    size_t next = 0;
    bool noted = false;  // a copy was written here, and its file system noted
};

// Lists the level's directory and does its own files, then keeps of the
// listing only the subdirectories to walk, so a level held open while the
// walk is deeper costs their names, not the whole folder's. False when the
// directory could not be listed or any file got "error.".
bool enter_level(Level& level, const std::string& pattern, Console& console, WrittenFileSystems& written) {
    DirListing listing;
    if (!list_directory(*level.directory, listing)) return false;
    bool all_done = true;
    for (const DirEntry& entry : listing.entries) {
        const std::string_view name = entry_name(listing, entry);
        if (entry.kind == EntryKind::directory || is_scrambled_name(name)) continue;
        if (!match_wildcard(pattern, name)) continue;
        if (!scramble_listed_file(*level.directory, std::string(name), entry, console)) {
            all_done = false;
        } else if (!level.noted) {
            note_written(written, *level.directory, "");
            level.noted = true;
        }
    }
    for (const DirEntry& entry : listing.entries) {
        // Links and junctions are not walked: they could loop or leave the tree.
        if (entry.kind != EntryKind::directory || entry.is_link) continue;
        if (!add_listed_entry(level.subdirectories, entry_name(listing, entry), entry.kind, false)) all_done = false;
    }
    return all_done;
}

// The directory's own files first, then each subdirectory's whole subtree,
// in listing order. The open levels are kept in memory rather than on the
// call stack, so the depth of a tree is bounded by the handles the system
// lets the walk hold, never by the stack.
bool walk_directory(const DirectoryHandle& top, const std::string& pattern, Console& console,
                    WrittenFileSystems& written) {
    // A deque leaves every level where it is while deeper ones are added.
    std::deque<Level> levels(1);
    levels.back().directory = &top;
    bool all_done = enter_level(levels.back(), pattern, console, written);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.subdirectories.entries.size()) {
            levels.pop_back();
            continue;
        }
        const std::string name(entry_name(level.subdirectories, level.subdirectories.entries[level.next++]));
        if (g_walk_hook != nullptr) g_walk_hook(name);
        Level& child = levels.emplace_back();
        // One that cannot be opened now (swapped for a link, removed, or
        // past the system's limit on open handles) is passed over, and the
        // run does not end as if all was done.
        if (!open_subdirectory(child.own, *level.directory, name)) {
            all_done = false;
            levels.pop_back();
            continue;
        }
        child.directory = &child.own;
        if (!enter_level(child, pattern, console, written)) all_done = false;
    }
    return all_done;
}

}  // namespace

bool walk_tree(const DirectoryHandle& directory, const std::string& pattern, Console& console,
               WrittenFileSystems& written) {
    return walk_directory(directory, pattern, console, written);
}

void set_walk_hook(WalkHook hook) { g_walk_hook = hook; }
