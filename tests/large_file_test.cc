// Files and archive offsets past 2 GiB and 4 GiB, where a 32-bit program's
// size_t and long stop short: the real programs, run as processes, on sparse
// files that cost no disk until something writes them.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pak_writer.h"
#include "scrambler/scramble_file.h"
#include "test_support.h"
#include "unpacker/pak_format.h"

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr int64_t kTwoGiB = int64_t{1} << 31;
constexpr int64_t kFourGiB = int64_t{1} << 32;

#ifdef _WIN32

// An open file for reads and writes at 64-bit offsets, the same way on both
// platforms, whatever the width of size_t and long.
struct RawFile {
    explicit RawFile(const std::string& path, bool create) {
        handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE && create) {
            // NTFS leaves the unwritten ranges unallocated only when asked.
            DWORD returned = 0;
            DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        }
    }
    ~RawFile() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    bool ok() const { return handle != INVALID_HANDLE_VALUE; }
    bool seek(int64_t offset) {
        LARGE_INTEGER to;
        to.QuadPart = offset;
        return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) != 0;
    }
    bool resize(int64_t size) { return seek(size) && SetEndOfFile(handle) != 0; }
    bool write_at(int64_t offset, const std::string& bytes) {
        DWORD done = 0;
        return seek(offset) &&
               WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) != 0 &&
               done == bytes.size();
    }
    std::string read_at(int64_t offset, size_t length) {
        std::string bytes(length, '\0');
        DWORD done = 0;
        if (!seek(offset) || ReadFile(handle, bytes.data(), static_cast<DWORD>(length), &done, nullptr) == 0)
            done = 0;
        bytes.resize(done);
        return bytes;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
};

#else

struct RawFile {
    explicit RawFile(const std::string& path, bool create)
        : fd(open(path.c_str(), create ? O_RDWR | O_CREAT | O_TRUNC : O_RDWR, 0600)) {}
    ~RawFile() {
        if (fd >= 0) close(fd);
    }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    bool ok() const { return fd >= 0; }
    bool resize(int64_t size) const { return ftruncate(fd, static_cast<off_t>(size)) == 0; }
    bool write_at(int64_t offset, const std::string& bytes) const {
        return pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
               static_cast<ssize_t>(bytes.size());
    }
    std::string read_at(int64_t offset, size_t length) const {
        std::string bytes(length, '\0');
        const ssize_t done = pread(fd, bytes.data(), length, static_cast<off_t>(offset));
        bytes.resize(done > 0 ? static_cast<size_t>(done) : 0);
        return bytes;
    }
    int fd;
};

#endif

// A file of `size` bytes, all zero but for `pieces` written at their offsets.
bool make_sparse_file(const std::string& path, int64_t size, const std::vector<std::pair<int64_t, std::string>>& pieces) {
    RawFile file(path, true);
    if (!file.ok() || !file.resize(size)) return false;
    for (const auto& [offset, bytes] : pieces)
        if (!file.write_at(offset, bytes)) return false;
    return true;
}

// 64 bytes that differ from every other `seed`'s, none of them zero.
std::string marker(int seed) {
    std::string bytes(64, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(1 + (seed * 64 + static_cast<int>(i)) % 255);
    return bytes;
}

// What the copy holds at `offset` where the source holds `bytes`: the key
// position is the offset's, counted in 64 bits.
std::string scrambled_at(int64_t offset, const std::string& bytes) {
    std::string out = bytes;
    for (size_t i = 0; i < out.size(); ++i) {
        const auto key_index = static_cast<size_t>((offset + static_cast<int64_t>(i)) % static_cast<int64_t>(ScrambleKey.size()));
        out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ ScrambleKey[key_index]);
    }
    return out;
}

uint64_t available_bytes(const std::string& directory) {
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(directory, error);
    return error ? 0 : space.available;
}

}  // namespace

// A 32-bit scrambler must count the bytes it has copied, and the key
// position, in 64 bits: a source just over 4 GiB comes out whole, every
// byte XORed with the key byte its own offset selects (2^32 mod 15 is 1, so
// a count that wraps at 4 GiB restarts the key one byte off).
TEST(LargeFile, ScramblerCopiesASourceOverFourGiB) {
    if (sizeof(void*) > 4) GTEST_SKIP() << "matters where size_t is 32 bits; the 32-bit Windows build runs it";
    ScratchDir scratch;
    const int64_t size = kFourGiB + 1000;
    // The copy is written in full: 4 GiB of real bytes.
    if (available_bytes(scratch.root) < static_cast<uint64_t>(size) + (uint64_t{1} << 29))
        GTEST_SKIP() << "needs 4.5 GiB free in " << scratch.root;

    // Markers at the start, across 2^31 and 2^32, and at the end.
    const std::vector<std::pair<int64_t, std::string>> pieces = {
        {0, marker(1)}, {kTwoGiB - 32, marker(2)}, {kFourGiB - 32, marker(3)}, {size - 64, marker(4)}};
    ASSERT_TRUE(make_sparse_file(scratch.path("big.bmp"), size, pieces));

    const ProcessResult run = run_program(SCRAMBLER_PATH, {scratch.root}, "\n\n");
    EXPECT_EQ(run.output, "press enter to start...big.bmp ...done.\nsuccessful.\npress enter key.\n");
    EXPECT_EQ(run.exit_status, 0);

    const std::string copy_path = scratch.path("_o_big.bmp");
    std::error_code error;
    EXPECT_EQ(std::filesystem::file_size(copy_path, error), static_cast<uintmax_t>(size));
    RawFile copy(copy_path, false);
    ASSERT_TRUE(copy.ok());
    for (const auto& [offset, bytes] : pieces)
        EXPECT_EQ(copy.read_at(offset, bytes.size()), scrambled_at(offset, bytes)) << "at " << offset;
    // Zeros just past the markers across 2^31 and 2^32.
    for (const int64_t around : {kTwoGiB + 32, kFourGiB + 32})
        EXPECT_EQ(copy.read_at(around, 16), scrambled_at(around, std::string(16, '\0'))) << "at " << around;
    EXPECT_EQ(copy.read_at(size, 16), "");
}

// Entry offsets are signed 32-bit: one that reaches just past 2 GiB is read
// there, and one of 2^31 or more as an unsigned number is negative, so it is
// refused as broken even in an archive big enough to hold it that way.
TEST(LargeFile, UnpackerReadsAcrossTwoGiBAndRefusesOffsetsAboveIt) {
    {
        ScratchDir scratch;
        const std::string data = "across 2 GiB...";
        const auto offset = static_cast<int32_t>(kTwoGiB - 8);
        const std::string directory = pak_header(1) + pak_record("far.bin", static_cast<int32_t>(data.size()), offset);
        ASSERT_TRUE(make_sparse_file(scratch.path("big.pak"), kTwoGiB + 4096, {{0, directory}, {offset, data}}));
        const ProcessResult run = run_program(UNPACKER_PATH, {scratch.path("big.pak")}, "\n");
        EXPECT_EQ(run.output, "files: 1\n7FFFFFF8 - 80000006: far.bin ...done.\nsuccessful.\npress enter key.\n");
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(read_file(scratch.path("big/far.bin")), data);
    }
    for (const uint32_t unsigned_offset : {0x80000000u, 0xFFFFFFF0u}) {
        ScratchDir scratch;
        const auto offset = static_cast<int32_t>(unsigned_offset);
        const std::string directory = pak_header(1) + pak_record("far.bin", 16, offset);
        ASSERT_TRUE(make_sparse_file(scratch.path("big.pak"), kFourGiB + 4096,
                                     {{0, directory}, {int64_t{unsigned_offset}, std::string(16, 'x')}}));
        const ProcessResult run = run_program(UNPACKER_PATH, {scratch.path("big.pak")}, "\n");
        EXPECT_EQ(run.output, "files: 1\nbroken PAK file\npress enter key.\n") << std::hex << unsigned_offset;
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"big.pak"}));
    }
}

// Directory records lie past 4 GiB from entry 16,268,816 on, and the block
// of entry 16,269,313 begins there: a 32-bit product of index and record
// size would read it at its offset modulo 2^32, a hole of empty entries, and
// the archive would pass as sound. Read where it is, the entry's unsafe
// name refuses the archive before anything is written.
TEST(LargeFile, UnpackerReadsDirectoryRecordsPastFourGiB) {
    ScratchDir scratch;
    constexpr int32_t kCount = 16270336;  // ends past 4 GiB, 1,024 entries after that block
    constexpr size_t kFarEntry = 16269312;
    const int64_t far_offset = pak_record_offset(kFarEntry);
    ASSERT_GT(far_offset, kFourGiB);
    const std::string archive = scratch.path("far.pak");
    ASSERT_TRUE(make_sparse_file(archive, pak_record_offset(static_cast<size_t>(kCount)),
                                 {{0, pak_header(kCount) + pak_record("ok.txt", 0, 0)},
                                  {far_offset, pak_record("bad:name", 0, 0)}}));

    {
        InputFile input;
        ASSERT_TRUE(open_input_file(input, archive));
        PakDirectory directory;
        ASSERT_EQ(open_pak_directory(directory, input, kCount, input.size), PakStatus::ok);
        PakEntry entry;
        ASSERT_EQ(read_pak_directory(directory, kFarEntry, entry), PakStatus::ok);
        EXPECT_STREQ(entry.name, "bad:name");
    }

    // The whole program, where size_t has 32 bits. Under Wine, which does
    // not say where a file's holes are, every record is read: about 16 s
    // for these 16 million under 64-bit Wine, longer under emulation.
    if (sizeof(void*) > 4) return;
    const ProcessResult run = run_program(UNPACKER_PATH, {archive}, "\n");
    EXPECT_EQ(run.output, "files: 16270336\nunsafe file name in entry 16269313\npress enter key.\n");
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"far.pak"}));
}
