// The floor for bench/scrambler: the least a program can do to write the
// scrambled "_o_" copies of a tree, with none of the scrambler's promises:
// one listing per folder, plain creates (a partial copy may stand under its
// name), one read and one write per file of up to a block, no transcript.
//   scrambler_floor DIRECTORY

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::array<unsigned char, 15> kKey = {0x5A, 0xC3, 0x1E, 0x96, 0x07, 0xB4, 0x3D, 0xE8,
                                                0x71, 0x0F, 0xA2, 0x4C, 0xD9, 0x66, 0x2B};
constexpr size_t kBlock = kKey.size() * 16384;

// Whether the name ends in .bmp, .tga or .txt in any letter case.
bool wanted(const char* name) {
    const size_t length = std::strlen(name);
    if (length < 4 || name[length - 4] != '.') return false;
    const char* extension = name + length - 3;
    return strcasecmp(extension, "bmp") == 0 || strcasecmp(extension, "tga") == 0 ||
           strcasecmp(extension, "txt") == 0;
}

// One copy: read, XOR, write, block by block.
bool scramble(int directory, const char* name, std::vector<unsigned char>& block) {
    const int in = openat(directory, name, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const std::string copy = std::string("_o_") + name;
    const int out = openat(directory, copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = out >= 0;
    for (ssize_t got = 0; ok && (got = read(in, block.data(), kBlock)) > 0;) {
        for (size_t i = 0; i < static_cast<size_t>(got); ++i) block[i] ^= kKey[i % kKey.size()];
        ok = write(out, block.data(), static_cast<size_t>(got)) == got;
    }
    close(in);
    return out >= 0 && close(out) == 0 && ok;
}

// A folder's files, then its subfolders, from one listing.
bool walk(int directory, std::vector<unsigned char>& block) {
    DIR* stream = fdopendir(directory);
    if (stream == nullptr) return false;
    std::vector<std::string> files, folders;
    while (const dirent* entry = readdir(stream)) {
        if (entry->d_name[0] == '.' || strncasecmp(entry->d_name, "_o_", 3) == 0) continue;
        if (entry->d_type == DT_DIR) folders.emplace_back(entry->d_name);
        else if (entry->d_type == DT_REG && wanted(entry->d_name)) files.emplace_back(entry->d_name);
    }
    bool ok = true;
    for (const std::string& name : files) ok = scramble(dirfd(stream), name.c_str(), block) && ok;
    for (const std::string& name : folders) {
        const int child = openat(dirfd(stream), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ok = child >= 0 && walk(child, block) && ok;
    }
    closedir(stream);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::vector<unsigned char> block(kBlock);
    const int top = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return top >= 0 && walk(top, block) ? 0 : 1;
}
