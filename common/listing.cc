// Directory listings, the same on every platform.

#include "common/listing.h"

#include <algorithm>

#include "common/ascii_case.h"

bool listing_order(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(fold_ascii_case(a[i]));
        const auto y = static_cast<unsigned char>(fold_ascii_case(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::string_view entry_name(const DirListing& listing, const DirEntry& entry) {
    return std::string_view(listing.names).substr(entry.name_offset, entry.name_size);
}

bool add_listed_entry(DirListing& listing, std::string_view name, EntryKind kind, bool is_link) {
    if (name.size() > UINT16_MAX || listing.names.size() + name.size() > UINT32_MAX) return false;
    listing.entries.push_back(DirEntry{static_cast<uint32_t>(listing.names.size()),
                                       static_cast<uint16_t>(name.size()), kind, is_link});
    listing.names += name;
    return true;
}

void sort_listing(DirListing& listing) {
    std::sort(listing.entries.begin(), listing.entries.end(), [&](const DirEntry& a, const DirEntry& b) {
        return listing_order(entry_name(listing, a), entry_name(listing, b));
    });
}
