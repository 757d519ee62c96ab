#include "unpacker/pak_format.h"

#include <gtest/gtest.h>

#include "pak_writer.h"
#include "test_support.h"

TEST(PakFormat, DescramblesTheStoredName) {
    char name[kPakNameSize];
    name[0] = 0x61, name[1] = 0x63, name[2] = 0x61, name[3] = 0x03;
    for (size_t j = 4; j < kPakNameSize; ++j) name[j] = static_cast<char>(j);
    descramble_name(name);
    EXPECT_EQ(std::string(name, kPakNameSize), "abc" + std::string(kPakNameSize - 3, '\0'));
}

// The directory is read in blocks of many entries; one spanning several
// blocks must come back whole and in order.
TEST(PakFormat, ReadsALargeDirectoryAcrossBlocks) {
    std::vector<PakItem> items;
    items.reserve(2500);
    for (int i = 0; i < 2500; ++i) items.push_back({"file" + std::to_string(i), std::string(static_cast<size_t>(i % 3), 'x')});
    const std::string bytes = make_pak(items);
    ScratchDir scratch;
    write_file(scratch.path("a.pak"), bytes);
    InputFile archive;
    ASSERT_TRUE(open_input_file(archive, scratch.path("a.pak")));
    PakHeader header;
    ASSERT_EQ(read_pak_header(archive, header), PakStatus::ok);
    PakDirectory directory;
    ASSERT_EQ(open_pak_directory(directory, archive, header.count, static_cast<int64_t>(bytes.size())), PakStatus::ok);
    ASSERT_EQ(directory.count, 2500);
    PakEntry entry;
    // Out of order and back again: each block is read when needed.
    for (const size_t index : {size_t{2499}, size_t{1}, size_t{1500}, size_t{2499}}) {
        ASSERT_EQ(read_pak_directory(directory, index, entry), PakStatus::ok);
        EXPECT_EQ(std::string(entry.name), "file" + std::to_string(index));
        EXPECT_EQ(entry.size, static_cast<int32_t>(index % 3));
    }
    EXPECT_EQ(entry.offset, 8 + 264 * 2500 + 2499);
    EXPECT_NE(read_pak_directory(directory, 2500, entry), PakStatus::ok);
}
