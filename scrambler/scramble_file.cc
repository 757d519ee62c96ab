#include "scrambler/scramble_file.h"

#include <cstddef>
#include <cstdint>

#include "common/platform.h"

namespace {

// A block is a whole number of key lengths, so every block starts at key
// byte 0 and the XOR is one flat loop over a precomputed key stream, which
// the compiler turns into vector code.
constexpr size_t kBlockSize = ScrambleKey.size() * 16384;

struct KeyStream {
    alignas(64) unsigned char bytes[kBlockSize];
};

const KeyStream& key_stream() {
    static const KeyStream stream = [] {
        KeyStream made{};
        for (size_t i = 0; i < kBlockSize; ++i) made.bytes[i] = ScrambleKey[i % ScrambleKey.size()];
        return made;
    }();
    return stream;
}

void xor_block(unsigned char* block, const unsigned char* stream, size_t length) {
    for (size_t i = 0; i < length; ++i) block[i] ^= stream[i];
}

// Reads until the block is full or the source ends, so that a short read
// never shifts the key position of the bytes after it. -1 on a read error.
int64_t fill_block(InputFile& source, unsigned char* block) {
    size_t filled = 0;
    while (filled < kBlockSize) {
        const int64_t got = read_input(source, block + filled, kBlockSize - filled);
        if (got < 0) return -1;
        if (got == 0) break;
        filled += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(filled);
}

// Splits a path into its directory (separator kept) and its last component.
// A double-byte character is read whole, so a trail byte equal to '\' is
// never taken for a separator.
void split_path(const std::string& path, std::string& directory, std::string& name) {
    size_t cut = 0;
    for (size_t at = 0; at < path.size(); ++at) {
        if (is_lead_byte(static_cast<unsigned char>(path[at])) && at + 1 < path.size())
            ++at;
        else if (is_path_separator(path[at]))
            cut = at + 1;
    }
    directory = path.substr(0, cut);
    name = path.substr(cut);
}

}  // namespace

int scramble_file_at(const std::string& source, OutputDirectory& directory,
                     const std::string& destination_name) {
    InputFile input;
    if (!open_input_file(input, source)) return -1;
    // A temporary, where the system needs one, starts with the copies' own
    // prefix, so no walk ever takes it for a source.
    SafeOutput output;
    if (!safe_output_open_at(output, directory, destination_name, "_o_")) return -1;

    const KeyStream& stream = key_stream();
    alignas(64) static unsigned char block[kBlockSize];
    for (;;) {
        const int64_t filled = fill_block(input, block);
        if (filled < 0) return -1;
        if (filled == 0) break;
        const auto length = static_cast<size_t>(filled);
        xor_block(block, stream.bytes, length);
        if (!safe_output_write(output, block, length)) return -1;
        if (length < kBlockSize) break;
    }
    return safe_output_commit(output) ? 0 : -1;
}

int scramble_file(const std::string& source, const std::string& destination) {
    std::string directory_path;
    std::string name;
    split_path(destination, directory_path, name);
    OutputDirectory directory;
    if (!open_output_directory(directory, directory_path)) return -1;
    return scramble_file_at(source, directory, name);
}
