// The floor for bench/unpacker: the least a program can do to extract a PAK
// archive with the unpacker's main promise (each file appears under its name
// only when complete), and nothing else: no checks of the archive or the
// names, no transcript, no batching. Each entry is an unnamed file written
// from a mapping of the archive (large entries copied in the kernel) and
// linked under its name.
//   unpacker_floor ARCHIVE.pak OUTPUT_DIRECTORY

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

uint32_t stored_u32(const unsigned char* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

// Names the unnamed file through its descriptor where allowed, else /proc.
bool link_unnamed(int fd, int directory, const char* name) {
    if (linkat(fd, "", directory, name, AT_EMPTY_PATH) == 0) return true;
    char own[64];
    std::snprintf(own, sizeof own, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, own, directory, name, AT_SYMLINK_FOLLOW) == 0;
}

// One entry: an unnamed file, its bytes, its name.
bool extract(int archive, const unsigned char* base, int directory, const char* name, uint32_t offset,
             uint32_t size) {
    const int fd = openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    if (size <= 65536) {
        ok = write(fd, base + offset, size) == static_cast<ssize_t>(size);
    } else {
        off_t from = offset;
        for (size_t left = size; ok && left > 0;) {
            const ssize_t moved = copy_file_range(archive, &from, fd, nullptr, left, 0);
            ok = moved > 0;
            if (ok) left -= static_cast<size_t>(moved);
        }
    }
    ok = ok && link_unnamed(fd, directory, name);
    return close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const int archive = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (archive < 0 || fstat(archive, &info) != 0) return 1;
    const auto length = static_cast<size_t>(info.st_size);
    void* mapped = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, archive, 0);
    if (mapped == MAP_FAILED) return 1;
    const auto* base = static_cast<const unsigned char*>(mapped);
    mkdir(argv[2], 0777);
    const int directory = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) return 1;
    const uint32_t count = stored_u32(base + 4);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* record = base + 8 + size_t{264} * i;
        char name[256];
        for (size_t k = 0; k < 256; ++k) name[k] = static_cast<char>(record[k] ^ static_cast<unsigned char>(k));
        name[255] = '\0';
        if (!extract(archive, base, directory, name, stored_u32(record + 260), stored_u32(record + 256))) return 1;
    }
    return 0;
}
