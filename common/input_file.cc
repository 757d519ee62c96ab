// The read loop both platforms share.

#include "common/input_file.h"

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
