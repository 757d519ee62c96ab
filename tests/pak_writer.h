#pragma once

// Builds PAK archives in memory for the tests and the committed sample. The
// product only reads archives; this is the one writer, kept with the tests.
// Header-only, since the test build compiles only *_test.cc and
// test_support.cc from this folder.

#include <cstdint>
#include <string>
#include <vector>

struct PakItem {
    std::string name;
    std::string data;
};

// A directory record as stored: `name` is scrambled and padded with NULs to
// 256 bytes (a name of exactly 256 bytes has no terminator at all).
inline std::string pak_record(const std::string& name, int32_t size, int32_t offset) {
    std::string record(264, '\0');
    for (size_t j = 0; j < 256; ++j) {
        unsigned char plain = j < name.size() ? static_cast<unsigned char>(name[j]) : 0;
        record[j] = static_cast<char>(plain ^ static_cast<unsigned char>(j));
    }
    for (int i = 0; i < 4; ++i) {
        record[256 + static_cast<size_t>(i)] = static_cast<char>(static_cast<uint32_t>(size) >> (8 * i));
        record[260 + static_cast<size_t>(i)] = static_cast<char>(static_cast<uint32_t>(offset) >> (8 * i));
    }
    return record;
}

// The little-endian signed 32-bit value stored at `bytes`.
inline int32_t stored_int32(const void* bytes) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
}

inline std::string pak_header(int32_t count) {
    std::string header = "PAK0";
    for (int i = 0; i < 4; ++i) header += static_cast<char>(static_cast<uint32_t>(count) >> (8 * i));
    return header;
}

// A well-formed archive: the directory, then each item's data in order.
inline std::string make_pak(const std::vector<PakItem>& items) {
    std::string archive = pak_header(static_cast<int32_t>(items.size()));
    size_t offset = 8 + 264 * items.size();
    std::string data;
    for (const PakItem& item : items) {
        archive += pak_record(item.name, static_cast<int32_t>(item.data.size()),
                              static_cast<int32_t>(offset + data.size()));
        data += item.data;
    }
    return archive + data;
}

// The archive committed as examples/sample.pak.
inline std::vector<PakItem> sample_pak_items() {
    return {{"readme.txt", "Unpacked from sample.pak.\n"},
            {"level1.map", "####\n#..#\n####\n"},
            {"empty.dat", ""}};
}
