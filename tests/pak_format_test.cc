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
    std::vector<PakEntry> entries;
    ASSERT_EQ(read_pak_directory(archive, header.count, static_cast<int64_t>(bytes.size()), entries), PakStatus::ok);
    ASSERT_EQ(entries.size(), 2500u);
    EXPECT_STREQ(entries[2499].name, "file2499");
    EXPECT_EQ(entries[2499].size, 2499 % 3);
    EXPECT_EQ(entries[1].offset, 8 + 264 * 2500);
}
