// Files and archive offsets past 2 GiB and 4 GiB, where a 32-bit program's
// size_t and long stop short: the real programs, run as processes, on sparse
// files that cost no disk until something writes them.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pak_writer.h"
#include "test_support.h"
#include "unpacker/pak_format.h"

namespace {

constexpr int64_t kTwoGiB = int64_t{1} << 31;
constexpr int64_t kFourGiB = int64_t{1} << 32;

// 64 bytes that differ from every other `seed`'s, none of them zero.
std::string marker(int seed) {
    std::string bytes(64, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(1 + (seed * 64 + static_cast<int>(i)) % 255);
    return bytes;
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
    EXPECT_EQ(run.output, "press enter to start...big.bmp ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(run.exit_status, 0);

    const std::string copy_path = scratch.path("_o_big.bmp");
    std::error_code error;
    EXPECT_EQ(std::filesystem::file_size(copy_path, error), static_cast<uintmax_t>(size));
    for (const auto& [offset, bytes] : pieces)
        EXPECT_EQ(read_file_at(copy_path, offset, bytes.size()), scrambled(bytes, offset)) << "at " << offset;
    // Zeros just past the markers across 2^31 and 2^32.
    for (const int64_t around : {kTwoGiB + 32, kFourGiB + 32})
        EXPECT_EQ(read_file_at(copy_path, around, 16), scrambled(std::string(16, '\0'), around)) << "at " << around;
    EXPECT_EQ(read_file_at(copy_path, size, 16), "");
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
        const ProcessResult run = run_unpacker_program(scratch.path("big.pak"));
        EXPECT_EQ(run.output, "files: 1\n7FFFFFF8 - 80000006: far.bin ...done.\nsuccessful.\n" + kPress);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(read_file(scratch.path("big/far.bin")), data);
    }
    for (const uint32_t unsigned_offset : {0x80000000u, 0xFFFFFFF0u}) {
        ScratchDir scratch;
        const auto offset = static_cast<int32_t>(unsigned_offset);
        const std::string directory = pak_header(1) + pak_record("far.bin", 16, offset);
        ASSERT_TRUE(make_sparse_file(scratch.path("big.pak"), kFourGiB + 4096,
                                     {{0, directory}, {int64_t{unsigned_offset}, std::string(16, 'x')}}));
        const ProcessResult run = run_unpacker_program(scratch.path("big.pak"));
        EXPECT_EQ(run.output, "files: 1\nbroken PAK file\n" + kPress) << std::hex << unsigned_offset;
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
    const ProcessResult run = run_unpacker_program(archive);
    EXPECT_EQ(run.output, "files: 16270336\nunsafe file name in entry 16269313\n" + kPress);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"far.pak"}));
}
