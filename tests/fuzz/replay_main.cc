// Stands in for libFuzzer's driver where there is none: feeds every file
// under the given directories (or the given files) to the fuzz target once,
// so the corpus of past faults is replayed by every ordinary test run.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Reads a whole input file; false when it cannot be read.
bool read_input_bytes(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    FILE* file = std::fopen(path.string().c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

// Runs the target on one input, copied so that a read past its end is
// caught by the sanitizers just as under libFuzzer.
bool replay(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    if (!read_input_bytes(path, bytes)) {
        std::printf("cannot read %s\n", path.string().c_str());
        return false;
    }
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    return true;
}

}  // namespace

// An empty or missing corpus fails: a replay that ran nothing proves nothing.
int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path root = argv[i];
        std::error_code error;
        if (std::filesystem::is_regular_file(root, error)) {
            if (!replay(root)) return 1;
            ++replayed;
            continue;
        }
        for (auto it = std::filesystem::recursive_directory_iterator(root, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (!it->is_regular_file(error)) continue;
            if (!replay(it->path())) return 1;
            ++replayed;
        }
        if (error) {
            std::printf("cannot list %s\n", root.string().c_str());
            return 1;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
