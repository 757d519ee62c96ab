// The portable part of the safe output: what both platforms do alike around
// their own ways of putting a file in place.

#include "common/safe_output.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "common/safe_output_platform.h"

SafeOutput::~SafeOutput() { safe_output_discard(*this); }

OsStatus safe_output_copy_from(SafeOutput& output, InputFile& source, int64_t offset,
                               int64_t length) {
    if (length <= 0) return os_ok();
    if (offset < 0 || !SafeOutputPlatform::is_open(output)) {
        SafeOutputPlatform::set_error(output, EINVAL);
        return os_failure(EINVAL);
    }
    return SafeOutputPlatform::copy_range(output, source, offset, length);
}

OsStatus SafeOutputPlatform::copy_by_blocks(SafeOutput& output, InputFile& source, int64_t offset,
                                            int64_t length) {
    constexpr int64_t kBlock = 1 << 20;
    std::vector<char> buffer(static_cast<size_t>(std::min(length, kBlock)));
    while (length > 0) {
        const auto want = static_cast<size_t>(std::min(length, kBlock));
        const int64_t got = read_input_at(source, buffer.data(), want, offset);
        if (got <= 0) {
            // An archive that ends early is as broken as one that fails.
            const int error = EIO;
            set_error(output, error);
            return os_failure(error);
        }
        const OsStatus written = safe_output_write(output, buffer.data(), static_cast<size_t>(got));
        if (!written) return written;
        offset += got;
        length -= got;
    }
    return os_ok();
}

CommitResult safe_output_commit(SafeOutput& output) {
    if (!SafeOutputPlatform::is_open(output)) return CommitResult::failed;
    const CommitResult result = SafeOutputPlatform::put_in_place(output);
    if (result != CommitResult::committed) safe_output_discard(output);
    return result;
}
