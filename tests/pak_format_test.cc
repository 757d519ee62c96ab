#include "unpacker/pak_format.h"

#include <gtest/gtest.h>

#include <cstring>

#include "pak_writer.h"
#include "test_support.h"

namespace {

// Opens `bytes` as an archive kept in `scratch`.
bool open_archive(const ScratchDir& scratch, const std::string& bytes, InputFile& archive) {
    return write_file(scratch.path("a.pak"), bytes) && open_input_file(archive, scratch.path("a.pak"));
}

TEST(PakFormat, HeaderRecognisesOnlyTheExactMagicAndReadsTheCountSigned) {
    struct Case { std::string bytes; PakStatus status; int32_t count; };
    const Case cases[] = {
        {"", PakStatus::not_pak, 0},           {"PA", PakStatus::not_pak, 0},
        {"pak0\0\0\0\0", PakStatus::not_pak, 0}, {std::string("PAK\0\0\0\0\0", 8), PakStatus::not_pak, 0},
        {"PAK1\0\0\0\0", PakStatus::not_pak, 0}, {"PAK0", PakStatus::broken, 0},
        {"PAK0\1\0\0", PakStatus::broken, 0},  {pak_header(0), PakStatus::ok, 0},
        {pak_header(-5), PakStatus::ok, -5},   {pak_header(0x12345678), PakStatus::ok, 0x12345678},
    };
    for (const Case& c : cases) {
        ScratchDir scratch;
        InputFile archive;
        ASSERT_TRUE(open_archive(scratch, c.bytes, archive));
        PakHeader header;
        EXPECT_EQ(read_pak_header(archive, header), c.status) << c.bytes;
        if (c.status == PakStatus::ok) {
            EXPECT_EQ(header.count, c.count);
        }
    }
}

TEST(PakFormat, DescramblesTheStoredName) {
    char name[kPakNameSize];
    name[0] = 0x61, name[1] = 0x63, name[2] = 0x61, name[3] = 0x03;
    for (size_t j = 4; j < kPakNameSize; ++j) name[j] = static_cast<char>(j);
    descramble_name(name);
    EXPECT_STREQ(name, "abc");
    for (size_t j = 3; j < kPakNameSize; ++j) EXPECT_EQ(name[j], '\0');
}

TEST(PakFormat, ReadsALargeDirectoryAcrossBlocks) {
    std::vector<PakItem> items;
    for (int i = 0; i < 2500; ++i) items.push_back({"file" + std::to_string(i), std::string(static_cast<size_t>(i % 3), 'x')});
    const std::string bytes = make_pak(items);
    ScratchDir scratch;
    InputFile archive;
    ASSERT_TRUE(open_archive(scratch, bytes, archive));
    PakHeader header;
    ASSERT_EQ(read_pak_header(archive, header), PakStatus::ok);
    std::vector<PakEntry> entries;
    ASSERT_EQ(read_pak_directory(archive, header.count, static_cast<int64_t>(bytes.size()), entries), PakStatus::ok);
    ASSERT_EQ(entries.size(), 2500u);
    EXPECT_STREQ(entries[2499].name, "file2499");
    EXPECT_EQ(entries[2499].size, 2499 % 3);
    EXPECT_EQ(entries[1].offset, static_cast<int32_t>(8 + 264 * 2500));
}

TEST(PakFormat, RefusesACountTheFileCannotHoldWithoutAllocating) {
    ScratchDir scratch;
    InputFile archive;
    const std::string bytes = pak_header(0x7FFFFFFF) + pak_record("a", 0, 0);
    ASSERT_TRUE(open_archive(scratch, bytes, archive));
    PakHeader header;
    ASSERT_EQ(read_pak_header(archive, header), PakStatus::ok);
    std::vector<PakEntry> entries;
    EXPECT_EQ(read_pak_directory(archive, header.count, static_cast<int64_t>(bytes.size()), entries), PakStatus::broken);
    EXPECT_EQ(entries.capacity(), 0u);
}

TEST(PakFormat, EntryIsIntactOnlyWhenItsNameEndsAndItsDataLiesInTheFile) {
    struct Case { int32_t size; int32_t offset; bool intact; };
    const Case cases[] = {{0, -7, true},   {-3, 999, true},  {10, 90, true},  {11, 90, false},
                          {1, -1, false},  {1, 100, false},  {0x7FFFFFFF, 0x7FFFFFFF, false}};
    for (const Case& c : cases) {
        PakEntry entry;
        entry.size = c.size, entry.offset = c.offset;
        EXPECT_EQ(pak_entry_is_intact(entry, 100), c.intact) << c.size << " at " << c.offset;
    }
    PakEntry unterminated;
    std::memset(unterminated.name, 'n', kPakNameSize);
    EXPECT_FALSE(pak_entry_is_intact(unterminated, 100));
}

}  // namespace
