// Writes a benchmark payload: COUNT files of SIZE bytes under DIR/files, and
// the same files as the archive DIR/payload.pak. The data is pseudo-random,
// so no file system can shortcut it as zeros or duplicates.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pak_writer.h"

namespace {

// Fills the first `length` bytes of `block` (rounded up to 8) with bytes no
// two files share.
void fill_block(std::vector<char>& block, size_t length, uint64_t& state) {
    for (size_t i = 0; i < length && i + 8 <= block.size(); i += 8) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        for (size_t b = 0; b < 8; ++b) block[i + b] = static_cast<char>(state >> (8 * b));
    }
}

bool write_all(FILE* file, const char* data, size_t length) { return std::fwrite(data, 1, length, file) == length; }

std::string file_name(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "f%06d.bin", index);
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_pak_payload DIR COUNT SIZE\n");
        return 2;
    }
    const std::string directory = argv[1];
    char* count_end = nullptr;
    char* size_end = nullptr;
    const long long count = std::strtoll(argv[2], &count_end, 10);
    const long long size = std::strtoll(argv[3], &size_end, 10);
    // Offsets are signed 32-bit, so the whole archive must stay below 2 GiB.
    const bool fits = count > 0 && size > 0 && count <= INT32_MAX / 264 && size <= INT32_MAX &&
                      8 + 264 * count + count * size <= INT32_MAX;
    if (*count_end != '\0' || *size_end != '\0' || !fits) {
        std::fprintf(stderr, "make_pak_payload: the archive must stay below 2 GiB\n");
        return 2;
    }

    FILE* archive = std::fopen((directory + "/payload.pak").c_str(), "wb");
    if (archive == nullptr) return 1;
    bool ok = write_all(archive, pak_header(static_cast<int32_t>(count)).data(), 8);
    const int64_t data_start = 8 + 264 * static_cast<int64_t>(count);
    for (int i = 0; i < static_cast<int>(count); ++i) {
        std::string record = pak_record(file_name(i), static_cast<int32_t>(size),
                                        static_cast<int32_t>(data_start + i * size));
        ok = ok && write_all(archive, record.data(), record.size());
    }

    std::vector<char> block(1 << 20);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < static_cast<int>(count) && ok; ++i) {
        FILE* file = std::fopen((directory + "/files/" + file_name(i)).c_str(), "wb");
        if (file == nullptr) return 1;
        for (int64_t left = size; left > 0 && ok;) {
            const size_t piece = static_cast<size_t>(left < static_cast<int64_t>(block.size()) ? left : static_cast<int64_t>(block.size()));
            fill_block(block, piece, state);
            ok = write_all(file, block.data(), piece) && write_all(archive, block.data(), piece);
            left -= static_cast<int64_t>(piece);
        }
        ok = std::fclose(file) == 0 && ok;
    }
    ok = std::fclose(archive) == 0 && ok;
    return ok ? 0 : 1;
}
