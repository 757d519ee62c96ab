// The Windows safe output where a run meets it only on some machines: a
// volume without hard links (FAT before Windows 10 1809), and an old copy
// owned by someone other than its source's owner.

#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/file_protection-win32.h"
#include "common/safe_output.h"
#include "common/safe_output_state-win32.h"
#include "common/test_hooks.h"
#include "pak_writer.h"
#include "test_support.h"
#include "unpacker/run_unpacker.h"
#include "wide_files_win32.h"

namespace {

// Every volume taken as one without hard links, for one scene.
struct VolumesWithoutLinks {
    VolumesWithoutLinks() { safe_output_take_volumes_as_without_links(true); }
    ~VolumesWithoutLinks() { safe_output_take_volumes_as_without_links(false); }
    VolumesWithoutLinks(const VolumesWithoutLinks&) = delete;
    VolumesWithoutLinks& operator=(const VolumesWithoutLinks&) = delete;
};

// A self-relative descriptor that names Everyone as the owner, as one of a
// copy planted by another user names that user.
std::vector<unsigned char> owned_by_everyone() {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sid_size = sizeof sid;
    SECURITY_DESCRIPTOR absolute;
    DWORD size = 0;
    if (CreateWellKnownSid(WinWorldSid, nullptr, sid, &sid_size) == 0 ||
        InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) == 0 ||
        SetSecurityDescriptorOwner(&absolute, sid, FALSE) == 0 ||
        SetSecurityDescriptorDacl(&absolute, TRUE, nullptr, FALSE) == 0)
        return {};
    MakeSelfRelativeSD(&absolute, nullptr, &size);
    std::vector<unsigned char> descriptor(size);
    if (MakeSelfRelativeSD(&absolute, descriptor.data(), &size) == 0) return {};
    return descriptor;
}

}  // namespace

// On such a volume the first file in a folder is copied once into a
// temporary whose mark can come off, and the later ones there are made so
// from the start: unpacking twice reports every file done, and every file
// is still there afterwards, a replaced hidden one still hidden; an output
// dropped leaves nothing; and another folder is written as before.
TEST(Win32SafeOutput, OnAVolumeWithoutHardLinksEveryFileDoneStays) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("data.pak"), make_pak({{"a.txt", "first"}, {"b.txt", "second"}})));
    ASSERT_TRUE(make_dir(scratch.path("data")));
    ASSERT_TRUE(write_file(scratch.path("data\\a.txt"), "old"));
    ASSERT_NE(SetFileAttributesW(literal_path(scratch.path("data\\a.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN), 0);
    DirectoryHandle output;
    DirectoryHandle other;
    ASSERT_TRUE(open_directory(output, scratch.path("data")));
    ASSERT_TRUE(open_directory(other, scratch.root));
    {
        VolumesWithoutLinks forced;
        for (int run = 0; run < 2; ++run) {
            const DriverRun unpacked = run_driver(run_unpacker, {scratch.path("data.pak")}, "\n");
            EXPECT_EQ(count_of(unpacked.output, "done."), 2u) << unpacked.output;
            EXPECT_EQ(read_file(scratch.path("data\\a.txt")), "first") << "run " << run;
            EXPECT_EQ(read_file(scratch.path("data\\b.txt")), "second") << "run " << run;
        }
        EXPECT_TRUE(safe_output_marks_after_creation(output));
        SafeOutput dropped;
        ASSERT_TRUE(safe_output_open(dropped, output, "dropped.txt", "_o_"));
        ASSERT_TRUE(safe_output_write(dropped, "x", 1));
    }
    EXPECT_NE(GetFileAttributesW(literal_path(scratch.path("data\\a.txt")).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(list_names(scratch.path("data")), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_FALSE(safe_output_marks_after_creation(other));
}

// Wine gives every file one owner and keeps no DACL set on one, so what is
// held is what the safe output asks Windows for: an old copy with the
// source's owner keeps its own DACL and owner, as replacing it in place
// would; one that names another owner (planted beside the source) gets the
// source's DACL instead, never its planter's.
TEST(Win32SafeOutput, AnOldCopyKeepsItsProtectionOnlyWithTheSourcesOwner) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("s.txt"), "secret"));
    ASSERT_TRUE(write_file(scratch.path("_o_s.txt"), "old copy"));
    InputFile source;
    ASSERT_TRUE(open_input_file(source, scratch.path("s.txt")));
    std::vector<unsigned char> of_source;
    ASSERT_TRUE(read_protection(source.handle, false, of_source));
    std::vector<unsigned char> of_old;
    ASSERT_TRUE(read_protection_at(literal_path(scratch.path("_o_s.txt")), of_old));
    ASSERT_NE(of_old, of_source);

    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, scratch.root));
    SafeOutput copy;
    ASSERT_TRUE(safe_output_open_copy(copy, directory, "_o_s.txt", "_o_", source));
    EXPECT_EQ(copy.state->protection, of_old);

    std::vector<unsigned char> planted = owned_by_everyone();
    ASSERT_FALSE(planted.empty());
    ASSERT_TRUE(protection_for_copy(source.handle, planted));
    EXPECT_EQ(planted, of_source);
}

#endif
