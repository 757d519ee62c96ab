// An interrupted run leaves nothing behind: a program stopped in the middle
// of a large file by any signal that ends it (Ctrl+C, Ctrl+\, a termination,
// a hang-up, a timer, a CPU limit, a user or real-time signal) removes the
// temporary it was writing, keeps the file an earlier run left under the
// final name, and ends as the signal ends a program; so does a full disk,
// though the run then goes on.

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "common/program_main.h"
#include "common/test_hooks.h"
#include "pak_writer.h"
#include "scrambler/run_scrambler.h"
#include "test_support.h"
#include "unpacker/run_unpacker.h"

namespace {

// A temporary in `directory` that already holds bytes: the program is then
// in the middle of writing it.
bool temporary_being_written(const std::string& directory, const std::string& prefix) {
    for (const std::string& name : list_names(directory)) {
        struct stat info;
        const std::string path = directory + "/";
        if (name.rfind(prefix, 0) == 0 && stat((path + name).c_str(), &info) == 0 && info.st_size > 0)
            return true;
    }
    return false;
}

// Starts `driver` on `argument` in a child through the programs' own start,
// which alone ignores and catches signals, writing named temporaries as on a
// file system without unnamed files; `file_limit` above 0 caps what it writes.
pid_t start_program(ProgramDriver driver, const std::string& argument, uint64_t file_limit = 0) {
    const pid_t child = fork();
    if (child == 0) {
        // Signals such as SIGQUIT end a program with a core dump: none is wanted here.
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        const rlimit files{file_limit, file_limit};
        if (file_limit > 0) setrlimit(RLIMIT_FSIZE, &files);
        const int quiet = open("/dev/null", O_RDWR);
        if (quiet < 0 || dup2(quiet, 0) < 0 || dup2(quiet, 1) < 0) _exit(126);
        safe_output_use_named_temporaries(true);
        std::vector<std::string> storage{"program", argument};
        _exit(program_main(2, argv_of(storage).data(), driver));
    }
    return child;
}

// Sends `signal_number` to `driver`'s run on `argument` once a temporary in
// `watched` holds bytes. Returns the wait status.
int signal_mid_write(ProgramDriver driver, const std::string& argument, const std::string& watched,
                     const std::string& prefix, int signal_number) {
    const pid_t child = start_program(driver, argument);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!temporary_being_written(watched, prefix) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    kill(child, signal_number);
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

}  // namespace

TEST(Interrupt, RemovesTheTemporaryAndKeepsTheEarlierFile) {
    struct Case {
        ProgramDriver driver;
        const char* argument;  // in the scratch folder
        const char* output;    // the final name, in `watched`
        const char* watched;
        const char* prefix;
        int signal_number;
    };
    const Case cases[] = {
        {run_scrambler, "tree", "_o_big.bmp", "tree", "_o_~", SIGINT},
        {run_scrambler, "tree", "_o_big.bmp", "tree", "_o_~", SIGTERM},
        {run_unpacker, "big.pak", "big.bin", "big", ".unpacker-~", SIGINT},
        {run_unpacker, "big.pak", "big.bin", "big", ".unpacker-~", SIGHUP},
        {run_scrambler, "tree", "_o_big.bmp", "tree", "_o_~", SIGQUIT},
        {run_scrambler, "tree", "_o_big.bmp", "tree", "_o_~", SIGUSR1},
        {run_scrambler, "tree", "_o_big.bmp", "tree", "_o_~", SIGALRM},
        {run_scrambler, "tree", "_o_big.bmp", "tree", "_o_~", SIGXCPU},
        {run_unpacker, "big.pak", "big.bin", "big", ".unpacker-~", SIGUSR2},
        {run_unpacker, "big.pak", "big.bin", "big", ".unpacker-~", SIGVTALRM},
        {run_unpacker, "big.pak", "big.bin", "big", ".unpacker-~", SIGPROF},
        {run_unpacker, "big.pak", "big.bin", "big", ".unpacker-~", SIGRTMAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.argument) + " signal " + std::to_string(c.signal_number));
        const ScratchDir scratch;
        ASSERT_TRUE(make_dir(scratch.path("tree")));
        ASSERT_TRUE(make_dir(scratch.path("big")));
        // Large enough that the copy is still running when the signal comes.
        ASSERT_TRUE(make_sparse_file(scratch.path("tree/big.bmp"), int64_t{8} << 30, {{0, "BM"}}));
        const int32_t entry_size = 0x7FFF0000;
        ASSERT_TRUE(make_sparse_file(scratch.path("big.pak"), 272 + int64_t{entry_size},
                                     {{0, pak_header(1) + pak_record("big.bin", entry_size, 272)}}));
        const std::string earlier = scratch.path(std::string(c.watched) + "/" + c.output);
        ASSERT_TRUE(write_file(earlier, "earlier"));

        const int status = signal_mid_write(c.driver, scratch.path(c.argument), scratch.path(c.watched), c.prefix,
                                            c.signal_number);

        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number) << status;
        EXPECT_EQ(list_names(scratch.path(c.watched)).size(), std::string(c.watched) == "tree" ? 2u : 1u);
        EXPECT_EQ(read_file(earlier), "earlier");
    }
}

// A disk that fills mid-copy is no signal: the program ignores SIGXFSZ, so
// the write fails, and the discarded temporary's name is removed with it.
TEST(Interrupt, AFullDiskLeavesNoNamedTemporary) {
    const ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("big.bmp"), std::string(200000, 'b')));
    ASSERT_TRUE(write_file(scratch.path("_o_big.bmp"), "earlier"));
    int status = 0;
    waitpid(start_program(run_scrambler, scratch.root, uint64_t{64} * 1024), &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(list_names(scratch.root), (std::vector<std::string>{"_o_big.bmp", "big.bmp"}));
    EXPECT_EQ(read_file(scratch.path("_o_big.bmp")), "earlier");
}

#endif
