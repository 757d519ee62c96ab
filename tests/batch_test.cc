// The batch of small files: in order, stopping at the first failure with no
// later file put in place, the same through the system's queue, through
// plain calls chosen by the tests, and through plain calls the program falls
// back to when the system refuses the queue at run time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/batch.h"
#include "test_support.h"

#ifdef __linux__
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#endif

namespace {

std::string file_name(size_t i) {
    std::string name = "f";
    name += std::to_string(1000 + i);
    return name;
}

// Batches `count` files into `folder`, a directory standing at the name of
// file `blocked` (none when it is `count` or more), and checks each file's
// result and what stands in the folder afterwards. Returns whether all held,
// so that a child process can report it by its exit status.
bool batch_writes_in_order(const std::string& folder, size_t count, size_t blocked, bool* queue_refused) {
    if (!make_dir(folder)) return false;
    std::vector<std::string> expected_names;
    for (size_t i = 0; i < count && i <= blocked; ++i) expected_names.push_back(file_name(i));
    if (blocked < count && !make_dir(folder + "/" + file_name(blocked))) return false;
    DirectoryHandle directory;
    if (!open_directory(directory, folder)) return false;
    OutputBatch batch;
    batch_start(batch, directory, ".test-");
    for (size_t i = 0; i < count; ++i) {
        const std::string bytes = patterned_bytes(100 + i);
        if (!batch_add(batch, file_name(i), bytes.data(), bytes.size())) return false;
    }
    batch_run(batch);
    if (queue_refused != nullptr) *queue_refused = batch.queue_refused;
    bool held = batch.results.size() == count && batch.files.empty();
    for (size_t i = 0; held && i < count; ++i) {
        const BatchResult want = i < blocked ? BatchResult::written
                                 : i == blocked ? BatchResult::open_failed
                                                : BatchResult::not_attempted;
        held = batch.results[i] == want;
        if (held && i < blocked) held = read_file(folder + "/" + file_name(i)) == patterned_bytes(100 + i);
    }
    return held && list_names(folder) == expected_names;
}

struct Case {
    const char* what;
    size_t count;
    size_t blocked;
};

const Case kCases[] = {
    {"all written", 200, 200},
    {"the first blocked", 5, 0},
    {"one in the middle blocked", 200, 120},
    {"the last blocked", 40, 39},
};

}  // namespace

TEST(Batch, PutsFilesInPlaceInOrderAndNoneAfterTheFirstFailure) {
    for (const bool plain : {false, true}) {
        batch_use_plain_calls(plain);
        for (const Case& c : kCases) {
            const ScratchDir scratch;
            EXPECT_TRUE(batch_writes_in_order(scratch.path("out"), c.count, c.blocked, nullptr))
                << c.what << (plain ? ", plain calls" : ", system's queue where there is one");
        }
    }
    batch_use_plain_calls(false);
}

TEST(Batch, TakesNoMoreThanItsLimits) {
    const ScratchDir scratch;
    DirectoryHandle directory;
    ASSERT_TRUE(open_directory(directory, scratch.path("")));
    OutputBatch batch;
    batch_start(batch, directory, ".test-");
    const std::string small = "x";
    for (size_t i = 0; i < kBatchFiles; ++i) ASSERT_TRUE(batch_add(batch, file_name(i), small.data(), 1));
    EXPECT_FALSE(batch_add(batch, "one-more", small.data(), 1));
    batch_start(batch, directory, ".test-");
    const std::string half(kBatchBytes / 2, 'y');
    EXPECT_TRUE(batch_add(batch, "a", half.data(), half.size()));
    EXPECT_TRUE(batch_add(batch, "b", half.data(), half.size()));
    EXPECT_FALSE(batch_add(batch, "c", small.data(), 1));
    EXPECT_EQ(batch.files.size(), 2U);
}

#ifdef __linux__
// In a child whose system calls refuse io_uring, as a seccomp profile of a
// container can, the batch must notice at run time and keep every promise
// through plain calls: whether the queue cannot be set up at all, or is
// set up and then refuses its first work.
TEST(Batch, FallsBackToPlainCallsWhenTheSystemRefusesItsQueue) {
    for (const long refused_call : {long{SYS_io_uring_setup}, long{SYS_io_uring_enter}}) {
        for (const Case& c : kCases) {
            const ScratchDir scratch;
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                sock_filter refuse[] = {
                    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(refused_call), 0, 1),
                    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
                    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
                };
                const sock_fprog program{static_cast<unsigned short>(std::size(refuse)), refuse};
                if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
                    _exit(3);
                bool refused = false;
                const bool held = batch_writes_in_order(scratch.path("out"), c.count, c.blocked, &refused);
                _exit(!held ? 1 : !refused ? 2 : 0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status)) << c.what;
            // 2: the queue was not refused, so the plain calls were not what wrote.
            EXPECT_EQ(WEXITSTATUS(status), 0) << c.what << ", refused call " << refused_call;
        }
    }
}
#endif
