#pragma once

// A directory's entries as the scrambler's walk reads them, in one order on
// every run and every machine.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class EntryKind : uint8_t { regular, directory, other };

// One entry of a DirListing; its name lies in the listing's buffer.
struct DirEntry {
    uint32_t name_offset;  // where its name starts in DirListing::names
    uint16_t name_size;
    EntryKind kind;        // what the entry leads to; a link is followed for this
    bool is_link;          // symbolic link, junction or other reparse point
};

// A directory's entries, kept compact for folders of hundreds of thousands
// of files: all the names in one buffer, eight bytes an entry beside it.
struct DirListing {
    std::string names;
    std::vector<DirEntry> entries;
};

// The name of a listed entry, without any directory part.
std::string_view entry_name(const DirListing& listing, const DirEntry& entry);

// Adds an entry to the listing. False when its name is longer than any
// file system stores, or the listing would outgrow its offsets (4 GiB of
// names).
bool add_listed_entry(DirListing& listing, std::string_view name, EntryKind kind, bool is_link);

// Puts the listing in listing_order.
void sort_listing(DirListing& listing);

// Case-insensitive order, ties broken by bytes, so a listing comes out the
// same on every run and every machine whatever the file system returns.
bool listing_order(std::string_view a, std::string_view b);
