#include "common/platform_shared.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

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
