#include "unpacker/run_unpacker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "common/test_hooks.h"
#include "pak_writer.h"
#include "test_support.h"

namespace {

// Enter, and more that the unpacker's one pause must leave unread.
const std::string kTyped = "\nrest";

DriverRun unpack(const std::string& archive_path) { return run_unpacker_driver(archive_path, kTyped); }

// The archive as a.pak in `scratch`, unpacked into scratch/a.
DriverRun unpack_bytes(const ScratchDir& scratch, const std::string& bytes) {
    write_file(scratch.path("a.pak"), bytes);
    return unpack(scratch.path("a.pak"));
}

}  // namespace

TEST(RunUnpacker, ReportsEachRangeIn32BitHexAndWritesEveryEntry) {
    ScratchDir scratch;
    make_dir(scratch.path("a"));
    make_dir(scratch.path("a/sub"));
    const int32_t data = 8 + 264 * 4;
    DriverRun run = unpack_bytes(scratch, pak_header(4) + pak_record("a.txt", 5, data) + pak_record("zero", 0, 0) +
                                        pak_record("neg", 0, -1) + pak_record("sub\\b.bin", 3, data + 5) +
                                        "hello" + "xyz");
    EXPECT_EQ(run.output, "files: 4\n00000428 - 0000042C: a.txt ...done.\n00000000 - FFFFFFFF: zero ...done.\n"
                          "FFFFFFFF - FFFFFFFE: neg ...done.\n0000042D - 0000042F: sub\\b.bin ...done.\n"
                          "successful.\n" + kPress);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.unread, "rest");
    EXPECT_EQ(list_names(scratch.path("a")), (std::vector<std::string>{"a.txt", "neg", "sub", "zero"}));
    EXPECT_EQ(read_file(scratch.path("a/a.txt")), "hello");
    EXPECT_EQ(read_file(scratch.path("a/sub/b.bin")), "xyz");
    EXPECT_EQ(read_file(scratch.path("a/zero")), "");
}

TEST(RunUnpacker, EmptyDirectoryStillCreatesTheOutputDirectory) {
    for (int32_t count : {0, -5}) {
        ScratchDir scratch;
        DriverRun run = unpack_bytes(scratch, pak_header(count) + "junk");
        EXPECT_EQ(run.output, "files: " + std::to_string(count) + "\nsuccessful.\n" + kPress);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(list_names(scratch.path("a")).empty());
    }
}

TEST(RunUnpacker, LaterDuplicatesAndRerunsOverwrite) {
    ScratchDir scratch;
    // ".//y" is y: the "." and the empty component it leaves at the start go.
    const std::string archive = make_pak({{"x", "first"}, {"x", "second"}, {".//y", "why"}});
    write_file(scratch.path("set.old.pak"), archive);
    EXPECT_EQ(unpack(scratch.path("set.old.pak")).status, 0);
    EXPECT_EQ(read_file(scratch.path("set.old/x")), "second");
    write_file(scratch.path("set.old/y"), "changed since");
    EXPECT_EQ(unpack(scratch.path("set.old.pak")).status, 0);
    EXPECT_EQ(read_file(scratch.path("set.old/y")), "why");
    EXPECT_EQ(list_names(scratch.path("set.old")), (std::vector<std::string>{"x", "y"}));
}

TEST(RunUnpacker, StopsAtTheFirstEntryThatCannotBeOpened) {
    struct Case { std::string archive_name; std::string bad_name; std::string output_directory; };
    const Case cases[] = {
        {"a.pak", "nosub/x", "a"},  // no subdirectory is ever created
        {"a.pak", "", "a"},         {"a.pak", "dir/", "a"},
        {"a.pak", ".", "a"},        {"a.pak", "dir/.", "a"},  // the directory itself, never a file
        {"archive", "x", "archive"},  // the output directory would be the archive itself
        {".pak", "x", ".pak"},
    };
    for (const Case& c : cases) {
        ScratchDir scratch;
        ASSERT_TRUE(make_dir(scratch.path("a")));
        ASSERT_TRUE(make_dir(scratch.path("a/dir")));
        const std::string archive = make_pak({{"first", "1"}, {c.bad_name, "2"}, {"last", "3"}});
        write_file(scratch.path(c.archive_name), archive);
        DriverRun run = unpack(scratch.path(c.archive_name));
        EXPECT_EQ(run.status, 1);
        const std::string ranges = "files: 3\n00000320 - 00000320: first ...";
        const std::string open_error = "\nfile open error.\n" + kPress;
        if (c.archive_name == "a.pak") {
            std::string expected = ranges;
            expected += "done.\n00000321 - 00000321: " + c.bad_name + " ...";
            EXPECT_EQ(run.output, expected + open_error);
            EXPECT_EQ(list_names(scratch.path("a")), (std::vector<std::string>{"dir", "first"}));
            EXPECT_TRUE(list_names(scratch.path("a/dir")).empty());
        } else {
            EXPECT_EQ(run.output, ranges + open_error);
            EXPECT_EQ(read_file(scratch.path(c.archive_name)), archive);
        }
    }
}

// Each archive is judged in-process and by the real program, which must
// agree on the message, the status and writing nothing.
TEST(RunUnpacker, HostileArchivesCreateNothing) {
    struct Case { std::string bytes; std::string output; };
    const std::string unsafe1 = std::string("files: 1\nunsafe file name in entry 1\n") + kPress;
    const std::string broken = std::string("broken PAK file\n") + kPress;
    const Case cases[] = {
        {make_pak({{"../evil", "x"}}), unsafe1},
        {make_pak({{"sub\\..\\..\\evil", "x"}}), unsafe1},
        {make_pak({{"/tmp/evil", "x"}}), unsafe1},
        {make_pak({{"Aux.txt", "x"}}), unsafe1},
        {make_pak({{"sub/nul.txt", "x"}}), unsafe1},
        {make_pak({{"a:b", "x"}}), unsafe1},
        {make_pak({{"tab\there", "x"}}), unsafe1},
        {make_pak({{"del\x7F", "x"}}), unsafe1},
        {make_pak({{"sub./b", "x"}}), unsafe1},
        {make_pak({{"d /x", "x"}}), unsafe1},
#ifndef _WIN32
        // U+009B as UTF-8; the code page 1252 reads these bytes as two characters.
        {make_pak({{"csi\xC2\x9B" "2J", "x"}}), unsafe1},
        // Forms that imitate CSI, '/' and a character beyond Unicode (in octal,
        // so no digit after them joins the escape).
        {make_pak({{"o\340\202\2332J", "x"}}), unsafe1},
        {make_pak({{"q\355\240\2331m", "x"}}), unsafe1},
        {make_pak({{"..\300\257x", "x"}}), unsafe1},
        {make_pak({{"a\364\220\200\200", "x"}}), unsafe1},
#endif
        {make_pak({{"ok", "1"}, {"..\\evil", "x"}}), "files: 2\nunsafe file name in entry 2\n" + kPress},
        // Within an entry a broken region counts before an unsafe name, and
        // the first failing entry decides.
        {pak_header(1) + pak_record("../evil", 5, 1000), "files: 1\n" + broken},
        {pak_header(2) + pak_record("../evil", 0, 0) + pak_record("x", 5, 1000), "files: 2\nunsafe file name in entry 1\n" + kPress},
        {pak_header(2) + pak_record("ok", 0, 0) + pak_record(std::string(256, 'n'), 0, 0), "files: 2\n" + broken},
        // Zeros that are stored are read, not skipped as a hole would be.
        {pak_header(2000) + std::string(size_t{264} * 1999, '\0') + pak_record(std::string(256, 'n'), 0, 0), "files: 2000\n" + broken},
        {pak_header(1) + pak_record("x", 1, -4) + "d", "files: 1\n" + broken},
        {pak_header(1) + pak_record("x", 2, 272) + "d", "files: 1\n" + broken},
        {pak_header(1) + pak_record("x", 0x7FFFFFFF, 8) + "d", "files: 1\n" + broken},  // ends past 2^31
        {pak_header(0x7FFFFFFF) + pak_record("x", 0, 0), "files: 2147483647\n" + broken},
        {pak_header(2) + pak_record("x", 0, 0), "files: 2\n" + broken},
        {"PAK0\1", broken},
        {"PAKO" + pak_header(0).substr(4), std::string("It isn't PAK file\n") + kPress},
        {"pak0" + pak_header(0).substr(4), std::string("It isn't PAK file\n") + kPress},
        {std::string("PAK\0", 4) + pak_header(0).substr(4), std::string("It isn't PAK file\n") + kPress},
    };
    for (const Case& c : cases) {
        ScratchDir scratch;
        write_file(scratch.path("evil"), "sentinel");
        DriverRun run = unpack_bytes(scratch, c.bytes);
        EXPECT_EQ(run.output, c.output);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.unread, "rest");
        const ProcessResult process = run_program(UNPACKER_PATH, {scratch.path("a.pak")}, "\n");
        EXPECT_EQ(process.output, c.output);
        EXPECT_EQ(process.exit_status, 1);
        EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"a.pak", "evil"}));
        EXPECT_EQ(read_file(scratch.path("evil")), "sentinel");
    }
}

TEST(RunUnpacker, EveryTruncationOfAValidArchiveIsRefusedCleanly) {
    const std::string archive = make_pak({{"one", "first file"}, {"two", ""}, {"three", "last file's data"}});
    for (size_t length = 0; length < archive.size(); ++length) {
        ScratchDir scratch;
        DriverRun run = unpack_bytes(scratch, archive.substr(0, length));
        const std::string ending = (length < 4 ? "It isn't PAK file\n" : "broken PAK file\n") + kPress;
        ASSERT_EQ(run.output, (length < 8 ? "" : "files: 3\n") + ending) << length;
        ASSERT_EQ(list_names(scratch.root), (std::vector<std::string>{"a.pak"})) << length;
    }
}

namespace {

// Where the hook below changes the archive, and into what: `g_changed_bytes`
// written at `g_changed_at`, or the archive cut back to `g_cut_to` bytes.
std::string g_changed_archive;
int64_t g_changed_at = 0;
std::string g_changed_bytes;
int64_t g_cut_to = -1;
int g_first_block_reads = 0;

// On the second read of the first block, which is extraction beginning,
// changes the archive.
void change_archive(size_t first_entry) {
    if (first_entry != 0 || ++g_first_block_reads != 2) return;
    if (g_cut_to >= 0) {
        std::error_code error;
        std::filesystem::resize_file(g_changed_archive, static_cast<uintmax_t>(g_cut_to), error);
        EXPECT_FALSE(error);
        return;
    }
    FILE* file = std::fopen(g_changed_archive.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fseek(file, static_cast<long>(g_changed_at), SEEK_SET), 0);
    EXPECT_EQ(std::fwrite(g_changed_bytes.data(), 1, g_changed_bytes.size(), file), g_changed_bytes.size());
    EXPECT_EQ(std::fclose(file), 0);
}

}  // namespace

// An archive changed after the directory was judged ends the run as broken
// before anything changed is written: an entry's name or region, even just
// the directory's last four bytes (the block read again no longer matches
// what was judged), or the data cut away (never written as zeros).
TEST(RunUnpacker, AnArchiveChangedAfterJudgingIsBroken) {
    std::vector<PakItem> items;
    for (int i = 0; i < 2000; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "e%d", i);
        items.push_back({name, std::string(1, static_cast<char>('a' + i % 26))});
    }
    const int32_t data = 8 + 264 * 2000;
    const int64_t record_1500 = 8 + 264 * 1500;
    struct Case {
        int64_t at;
        std::string bytes;
        int64_t cut_to;
        size_t done;       // entries written before the run ends
        const char* last;  // the end of the line before "broken PAK file"
    };
    const Case cases[] = {
        {record_1500, pak_record("renamed", 1, data + 1500), -1, 1024, ": e1023 ...done.\n"},
        {record_1500, pak_record("e1500", 1, data), -1, 1024, ": e1023 ...done.\n"},
        {record_1500, pak_record("e1500", 0x7FFFFFFF, 8), -1, 1024, ": e1023 ...done.\n"},
        {data - 4, pak_record("", 0, data).substr(260), -1, 1024, ": e1023 ...done.\n"},
        {0, "", data, 0, ": e0 ...\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.at) + " cut to " + std::to_string(c.cut_to));
        ScratchDir scratch;
        g_changed_archive = scratch.path("a.pak");
        g_changed_at = c.at;
        g_changed_bytes = c.bytes;
        g_cut_to = c.cut_to;
        g_first_block_reads = 0;
        directory_block_hook = change_archive;
        DriverRun run = unpack_bytes(scratch, make_pak(items));
        directory_block_hook = nullptr;
        EXPECT_EQ(g_first_block_reads, 2);
        EXPECT_EQ(count_of(run.output, " ...done.\n"), c.done);
        EXPECT_NE(run.output.find(c.last + ("broken PAK file\n" + kPress)), std::string::npos);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(list_names(scratch.path("a")).size(), c.done);
    }
}
