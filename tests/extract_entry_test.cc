#include "unpacker/extract_entry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/platform.h"
#include "pak_writer.h"
#include "test_support.h"

namespace {

PakEntry entry_of(const std::string& name, int32_t size, int32_t offset) {
    PakEntry entry;
    name.copy(entry.name, name.size());
    entry.size = size;
    entry.offset = offset;
    return entry;
}

}  // namespace

// Small entries are served from a window over the archive and large ones
// copied directly: whatever order and overlap the directory gives, each
// file must hold exactly its own range.
TEST(ExtractEntry, EveryRangeComesOutWholeWhateverItsPlace) {
    ScratchDir scratch;
    const std::string data = patterned_bytes(kWindowSize + kWindowSize / 2);
    ASSERT_TRUE(write_file(scratch.path("archive"), data));
    ASSERT_TRUE(make_dir(scratch.path("out")));
    InputFile archive;
    ASSERT_TRUE(open_input_file(archive, scratch.path("archive")));
    DirectoryHandle output;
    ASSERT_TRUE(open_directory(output, scratch.path("out")));
    ArchiveWindow window;
    const auto window_size = static_cast<int32_t>(kWindowSize);
    const auto end = static_cast<int32_t>(data.size());
    const std::vector<PakEntry> entries = {
        entry_of("first", 4096, 0),
        entry_of("backwards", 5, 10),                         // behind the window's start
        entry_of("straddles", 4096, window_size - 100),       // begins inside, ends past it
        entry_of("overlaps", 300, window_size - 200),
        entry_of("large", static_cast<int32_t>(kLongWorkBytes) + 1, 7),        // copied without the window
        entry_of("last", 64, end - 64),                       // ends with the archive
        entry_of("empty", 0, end + 5),
        entry_of("largest_small", static_cast<int32_t>(kLongWorkBytes), end - static_cast<int32_t>(kLongWorkBytes)),
    };
    for (const PakEntry& entry : entries) {
        ASSERT_TRUE(extract_entry(archive, window, entry, entry.name, output)) << entry.name;
        const std::string expected =
            entry.size > 0 ? data.substr(static_cast<size_t>(entry.offset), static_cast<size_t>(entry.size)) : "";
        EXPECT_EQ(read_file(scratch.path("out/") + entry.name), expected) << entry.name;
    }
    EXPECT_EQ(list_names(scratch.path("out")).size(), entries.size()) << "no temporary stays behind";
    EXPECT_LE(window.bytes.size(), kWindowSize);
}

