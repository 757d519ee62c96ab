// The parts of the safe output both platforms share.

#include "common/safe_output_parts.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "common/system_call.h"

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

// Reads and writes are separate calls here, so a failure is told apart as
// the source's or the output's.
Status copy_by_blocks(SafeOutput& output, InputFile& source, int64_t offset, int64_t length) {
    constexpr int64_t kBlock = 1 << 20;
    std::vector<char> buffer(static_cast<size_t>(std::min(length, kBlock)));
    while (length > 0) {
        const auto want = static_cast<size_t>(std::min(length, kBlock));
        const int64_t got = read_input_at(source, buffer.data(), want, offset);
        if (got <= 0) {
            // An archive that ends early is as broken as one that fails.
            const Status status = got < 0 ? last_failure(Failure::reading) : failed(Failure::reading, 0);
            safe_output_discard(output);
            return status;
        }
        const Status written = safe_output_write(output, buffer.data(), static_cast<size_t>(got));
        if (!written) return written;
        offset += got;
        length -= got;
    }
    return kSucceeded;
}

Status discarded(SafeOutput& output, Status status) {
    safe_output_discard(output);
    return status;
}
