// Writes the sample archive that ships as examples/sample.pak.
//   make_sample_pak PATH

#include <cstdio>
#include <string>

#include "pak_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample_pak PATH\n");
        return 2;
    }
    const std::string bytes = make_pak(sample_pak_items());
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
