#include "scrambler/scramble_file.h"

#include <cstddef>
#include <cstdint>

#include "common/path.h"
#include "common/safe_output.h"
#include "common/system_call.h"

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

}  // namespace

Status scramble_into(InputFile& source, const DirectoryHandle& directory, const std::string& destination_name) {
    // A temporary, where the system needs one, starts with the copies' own
    // prefix, so no walk ever takes it for a source.
    SafeOutput output;
    // A new copy is readable by no one its source is not readable by: the
    // bytes are only XORed with a fixed key.
    const Status opened = safe_output_open_copy(output, directory, destination_name, kCopyPrefix, source);
    if (!opened) return opened;

    const KeyStream& stream = key_stream();
    alignas(64) static unsigned char block[kBlockSize];
    // Exactly the size found when the source was opened: a source that
    // shrank under us is an error, and one that grew is copied as it was.
    int64_t left = source.size;
    while (left > 0) {
        const size_t want = left < static_cast<int64_t>(kBlockSize) ? static_cast<size_t>(left) : kBlockSize;
        const int64_t got = read_input_fully(source, block, want);
        if (got < 0) return last_failure(Failure::reading);
        if (got != static_cast<int64_t>(want)) return failed(Failure::reading, 0);
        xor_block(block, stream.bytes, want);
        const Status written = safe_output_write(output, block, want);
        if (!written) return written;
        left -= static_cast<int64_t>(want);
    }
    return safe_output_commit(output);
}

int scramble_file(const std::string& source, const std::string& destination) {
    InputFile input;
    if (!open_input_file(input, source)) return -1;
    const PathParts parts = split_path(destination);
    DirectoryHandle directory;
    if (!open_directory(directory, std::string(parts.directory))) return -1;
    return scramble_into(input, directory, std::string(parts.name)) ? 0 : -1;
}
