// Faults of the output, seen from the user's side: console text that cannot
// be written makes the run a failure though its work is done; a write that
// takes nothing is an error, not an endless loop; an archive cut short while
// an entry is copied is a broken archive, not a disk's fault.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

#include "pak_writer.h"
#include "test_support.h"
#include "unpacker/run_unpacker.h"

namespace {

enum class Scene { stdout_full, stdout_closed, writes_take_nothing, listing_refused };

// Runs `program` on `argument` with no input, standard output as `scene`
// wants it (into `transcript` unless full or closed), and returns its exit
// status, or -1 when it did not exit.
int run_in_scene(const std::string& program, const std::string& argument, Scene scene,
                 const std::string& transcript) {
    const pid_t child = fork();
    if (child == 0) {
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        if (scene == Scene::stdout_closed) {
            close(1);
        } else {
            const int out = scene == Scene::stdout_full ? open("/dev/full", O_WRONLY)
                                                        : open(transcript.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
        }
        if (scene == Scene::listing_refused) {
            // A sandbox that lets no listing of attributes through.
            sock_filter refusing[] = {
                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_flistxattr, 2, 0),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_listxattr, 1, 0),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_llistxattr, 0, 1),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            };
            const sock_fprog filter{static_cast<unsigned short>(std::size(refusing)), refusing};
            if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
                _exit(100);
        }
        if (scene == Scene::writes_take_nothing) {
            // Every write() to a descriptor past the standard streams returns
            // 0, as no file system should but a faulty one may.
            sock_filter nothing[] = {
                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_write, 0, 3),
                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
                BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 3, 0, 1),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            };
            const sock_fprog filter{static_cast<unsigned short>(std::size(nothing)), nothing};
            if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
                _exit(100);
        }
        execl(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

// `scrambler DIR > /dev/full`, a closed standard output: the copies are made
// all the same, and the status says the run failed.
TEST(OutputFault, ConsoleTextThatCannotBeWrittenMakesTheStatusOne) {
    for (const Scene scene : {Scene::stdout_full, Scene::stdout_closed}) {
        const ScratchDir scratch;
        ASSERT_TRUE(make_dir(scratch.path("tree")));
        ASSERT_TRUE(write_file(scratch.path("tree/a.txt"), "text"));
        ASSERT_TRUE(write_file(scratch.path("a.pak"), make_pak({{"x", "data"}})));
        const bool closed = scene == Scene::stdout_closed;

        EXPECT_EQ(run_in_scene(SCRAMBLER_PATH, scratch.path("tree"), scene, ""), 1) << closed;
        EXPECT_EQ(run_in_scene(UNPACKER_PATH, scratch.path("a.pak"), scene, ""), 1) << closed;

        EXPECT_EQ(read_file(scratch.path("tree/_o_a.txt")), scrambled("text")) << closed;
        EXPECT_EQ(read_file(scratch.path("a/x")), "data") << closed;
    }
}

// A write that takes no byte and reports no error fails the file: "error."
// for the scrambler, which goes on, and no copy or temporary is left.
TEST(OutputFault, AWriteThatTakesNothingIsAnError) {
    const ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("tree")));
    ASSERT_TRUE(write_file(scratch.path("tree/a.txt"), "text"));

    EXPECT_EQ(run_in_scene(SCRAMBLER_PATH, scratch.path("tree"), Scene::writes_take_nothing, scratch.path("out")), 1);

    EXPECT_EQ(read_file(scratch.path("out")),
              "press enter to start...a.txt ...error.\nsuccessful.\n" + kPress);
    EXPECT_EQ(list_names(scratch.path("tree")), std::vector<std::string>{"a.txt"});
}

// In a sandbox that refuses to list a file's attributes (EPERM), an old
// copy is still replaced, its ACL asked for by name and kept.
TEST(OutputFault, ARefusedListingOfAttributesStillReplacesAndKeepsTheAcl) {
    const ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("tree")));
    ASSERT_TRUE(write_file(scratch.path("tree/a.txt"), "text"));
    ASSERT_TRUE(write_file(scratch.path("tree/_o_a.txt"), "old"));
    // Owner rw, user 1 and the group r, others nothing, as the kernel
    // stores an ACL: a version, then tag, permissions and id per entry.
    const char acl[] = "\x02\0\0\0" "\x01\0\x06\0\xff\xff\xff\xff" "\x02\0\x04\0\x01\0\0\0"
                       "\x04\0\x04\0\xff\xff\xff\xff" "\x10\0\x04\0\xff\xff\xff\xff"
                       "\x20\0\0\0\xff\xff\xff\xff";
    const std::string bytes(acl, sizeof acl - 1);
    const std::string copy = scratch.path("tree/_o_a.txt");
    if (setxattr(copy.c_str(), "system.posix_acl_access", bytes.data(), bytes.size(), 0) != 0)
        GTEST_SKIP() << "no ACLs on " << scratch.root;

    EXPECT_EQ(run_in_scene(SCRAMBLER_PATH, scratch.path("tree"), Scene::listing_refused, scratch.path("out")), 0);

    EXPECT_EQ(read_file(scratch.path("out")), "press enter to start...a.txt ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(read_file(copy), scrambled("text"));
    char kept[64];
    const ssize_t got = getxattr(copy.c_str(), "system.posix_acl_access", kept, sizeof kept);
    EXPECT_EQ(got > 0 ? std::string(kept, static_cast<size_t>(got)) : "none", bytes);
}

namespace {

// The console's output, which cuts the archive short when the line of the
// large entry is shown, that is just before its bytes are copied.
struct Truncating {
    std::string archive;
    std::string seen;
};

ssize_t write_and_truncate(void* cookie, const char* bytes, size_t length) {
    auto& state = *static_cast<Truncating*>(cookie);
    state.seen.append(bytes, length);
    if (state.seen.find("big ...") != std::string::npos) truncate(state.archive.c_str(), 300);
    return static_cast<ssize_t>(length);
}

}  // namespace

// The archive is cut short while a large entry is being copied: that is a
// broken archive, and the entry is not written.
TEST(OutputFault, AnArchiveCutShortDuringACopyIsBroken) {
    const ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("a.pak"), make_pak({{"big", patterned_bytes(size_t{1} << 20)}})));
    Truncating state{scratch.path("a.pak"), ""};
    FILE* out = fopencookie(&state, "w", cookie_io_functions_t{nullptr, write_and_truncate, nullptr, nullptr});
    ASSERT_NE(out, nullptr);
    char typed[] = "\n";
    FILE* in = fmemopen(typed, 1, "r");
    Console console = make_console(in, out);
    std::vector<std::string> arguments{"unpacker", scratch.path("a.pak")};
    std::vector<char*> argv = argv_of(arguments);

    EXPECT_EQ(run_unpacker(2, argv.data(), console), 1);

    std::fclose(out);
    std::fclose(in);
    EXPECT_EQ(state.seen, "files: 1\n00000110 - 0010010F: big ...\nbroken PAK file\n" + kPress);
    EXPECT_TRUE(list_names(scratch.path("a")).empty());
}
#endif
