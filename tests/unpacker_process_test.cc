// The real unpacker program, run as a process.

#include <gtest/gtest.h>

#include <filesystem>

#include "pak_writer.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

// From the build, not from __FILE__, which optimized builds make relative.
const std::string kSamplePath = SAMPLE_PAK_PATH;

}  // namespace

TEST(UnpackerProcess, EndsSilentlyOnAWrongArgumentCountOrAnUnopenableArchive) {
    ScratchDir scratch;
    make_dir(scratch.path("dir.pak"));
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{}, 2}, {{"a.pak", "b.pak"}, 2}, {{scratch.path("missing.pak")}, 1}, {{scratch.path("dir.pak")}, 1}};
    for (const auto& [arguments, status] : cases) {
        ProcessResult result = run_program(UNPACKER_PATH, arguments, "\n");
        EXPECT_EQ(result.exit_status, status);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.unread, "\n") << "the program paused";
    }
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"dir.pak"}));
}

TEST(UnpackerProcess, UnpacksTheSampleAndReportsErrorsWithStatusOne) {
    bool read_ok = false;
    const std::string sample = read_file(kSamplePath, &read_ok);
    ASSERT_TRUE(read_ok) << kSamplePath;
    EXPECT_EQ(sample, make_pak(sample_pak_items())) << "rewrite it: cmake --build --preset debug --target sample_pak";
    ScratchDir scratch;
    write_file(scratch.path("sample.pak"), sample);
#ifndef _WIN32
    // The folder is made as mkdir makes one: 0777 less the umask.
    const mode_t umask_before = umask(002);
#endif
    ProcessResult result = run_program(UNPACKER_PATH, {scratch.path("sample.pak")}, "");
#ifndef _WIN32
    umask(umask_before);
    struct stat folder;
    ASSERT_EQ(stat(scratch.path("sample").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0775u);
#endif
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.output, "files: 3\n00000320 - 00000339: readme.txt ...done.\n"
                             "0000033A - 00000348: level1.map ...done.\n00000349 - 00000348: empty.dat ...done.\n"
                             "successful.\n" + kPress);
    EXPECT_EQ(read_file(scratch.path("sample/level1.map")), "####\n#..#\n####\n");

    write_file(scratch.path("bad.pak"), "not an archive");
    result = run_program(UNPACKER_PATH, {scratch.path("bad.pak")}, "");
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.output, "It isn't PAK file\n" + kPress);

    // There are no options: --help names an archive, whose folder would be
    // the archive itself, since the name has no extension.
    write_file(scratch.path("--help"), make_pak({}));
    const std::filesystem::path started_in = std::filesystem::current_path();
    std::filesystem::current_path(scratch.root);
    result = run_program(UNPACKER_PATH, {"--help"}, "");
    std::filesystem::current_path(started_in);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.output, "files: 0\nfile open error.\n" + kPress);
}

// The program that rewrites examples/sample.pak writes the file shipped.
TEST(UnpackerProcess, SampleWriterWritesTheShippedSample) {
    ScratchDir scratch;
    const ProcessResult run = run_program(MAKE_SAMPLE_PAK_PATH, {scratch.path("sample.pak")}, "");
    EXPECT_EQ(run.exit_status, 0);
    bool written = false;
    EXPECT_EQ(read_file(scratch.path("sample.pak"), &written), read_file(kSamplePath));
    EXPECT_TRUE(written);
}
