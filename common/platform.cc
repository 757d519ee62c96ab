// The portable part of the platform layer, shared by both implementations.

#include "common/platform.h"

#include <algorithm>
#include <chrono>
#include <random>

namespace {

char fold_case(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool listing_order(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(fold_case(a[i]));
        const auto y = static_cast<unsigned char>(fold_case(b[i]));
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

std::string temporary_name(const char* prefix) {
    static std::mt19937_64 generator{
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    static const char kDigits[] = "0123456789abcdef";
    std::string name(prefix);
    name += '~';
    uint64_t bits = generator();
    for (int i = 0; i < 12; ++i, bits >>= 4) name += kDigits[bits & 0xF];
    return name;
}

// A regular file may hand back fewer bytes than asked for; a short read must
// never shift what comes after it.
int64_t read_input_fully(InputFile& file, void* buffer, size_t length) {
    auto* bytes = static_cast<char*>(buffer);
    size_t filled = 0;
    while (filled < length) {
        const int64_t got = read_input(file, bytes + filled, length - filled);
        if (got < 0) return -1;
        if (got == 0) break;
        filled += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(filled);
}
