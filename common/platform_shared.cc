#include "common/platform_shared.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

char fold_case(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool listing_order(const DirEntry& a, const DirEntry& b) {
    const size_t common = std::min(a.name.size(), b.name.size());
    for (size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(fold_case(a.name[i]));
        const auto y = static_cast<unsigned char>(fold_case(b.name[i]));
        if (x != y) return x < y;
    }
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.name < b.name;
}

std::string temporary_name(const char* prefix) {
    static std::mt19937_64 generator{
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "~%012llx",
                  static_cast<unsigned long long>(generator() & 0xFFFFFFFFFFFFull));
    return std::string(prefix) + suffix;
}

bool copy_by_blocks(SafeOutput& output, InputFile& source, int64_t offset, int64_t length) {
    constexpr int64_t kBlock = 1 << 20;
    std::vector<char> buffer(static_cast<size_t>(std::min(length, kBlock)));
    while (length > 0) {
        const auto want = static_cast<size_t>(std::min(length, kBlock));
        const int64_t got = read_input_at(source, buffer.data(), want, offset);
        if (got <= 0) return false;
        if (!safe_output_write(output, buffer.data(), static_cast<size_t>(got))) return false;
        offset += got;
        length -= got;
    }
    return true;
}
