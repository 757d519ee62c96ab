// Both programs with their output on a pipe, as in `scrambler dir | tee log`:
// each prompt must reach the reader before the program waits for its key,
// or the user looks at a frozen console. And names, which a pipe gets as
// they are, shown safely at a terminal.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "pak_writer.h"
#include "test_support.h"

namespace {

struct Exchange {
    std::string shown;  // what must be readable before anything is typed
    std::string typed;  // empty: the program must still be at work, not done
};

// Runs `program` on pipes and plays the dialogue; returns what it showed
// when a prompt did not arrive in time, or empty when all did. The program
// is stopped once the dialogue is over, finished or not.
std::string play(const std::string& program, const std::string& argument, const std::vector<Exchange>& dialogue) {
    int to_child[2];
    int from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) return "no pipes";
    const pid_t child = fork();
    if (child == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[1]);
        close(from_child[0]);
        execl(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    std::string seen;
    std::string failure;
    for (const Exchange& step : dialogue) {
        if (!read_until(from_child[0], seen, step.shown)) {
            failure = "waited for \"" + step.shown + "\", saw \"" + seen + "\"";
            break;
        }
        if (step.typed.empty() && seen.find("successful.") != std::string::npos) {
            failure = "\"" + step.shown + "\" came only with the end of the run";
            break;
        }
        if (write(to_child[1], step.typed.data(), step.typed.size()) < 0) failure = "could not type";
    }
    close(to_child[1]);
    close(from_child[0]);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return failure;
}

// Runs `program` on `argument` with standard output on a pseudo-terminal
// that passes bytes unchanged, and standard input at its end; returns what
// the terminal received.
std::string run_at_terminal(const std::string& program, const std::string& argument) {
    int master = -1;
    int slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) return "no terminal";
    const pid_t child = fork();
    if (child == 0) {
        const int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, 0);
        dup2(slave, 1);
        close(master);
        execl(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(slave);
    // Once the program has ended and all is read, the terminal reports EIO.
    std::string seen = read_to_end(master);
    close(master);
    waitpid(child, nullptr, 0);
    return seen;
}

}  // namespace

TEST(ConsoleOnAPipe, EveryPromptIsReadableBeforeThePause) {
    const ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("tree")));
    ASSERT_TRUE(write_file(scratch.path("tree/a.txt"), "a"));
    ASSERT_TRUE(write_file(scratch.path("game.pak"), make_pak({{"a.dat", "a"}})));
    EXPECT_EQ(play(SCRAMBLER_PATH, scratch.path("tree"),
                   {{"press enter to start...", "\n"}, {"successful.\n" + kPress, "\n"}}),
              "");
    EXPECT_EQ(play(UNPACKER_PATH, scratch.path("game.pak"), {{"successful.\n" + kPress, "\n"}}), "");
    EXPECT_EQ(play(SCRAMBLER_PATH, scratch.path("none"), {{"directory open error.\n" + kPress, "\n"}}), "");
    // A large file's line is out before its copy starts, and an entry's
    // before it is written.
    ASSERT_TRUE(make_dir(scratch.path("big")));
    ASSERT_TRUE(make_sparse_file(scratch.path("big/big.bmp"), int64_t{4} << 30, {{0, "BM"}}));
    EXPECT_EQ(play(SCRAMBLER_PATH, scratch.path("big"), {{"press enter to start...", "\n"}, {"big.bmp ...", ""}}), "");
    const int32_t size = 0x7FFF0000;
    ASSERT_TRUE(make_sparse_file(scratch.path("huge.pak"), 272 + int64_t{size},
                                 {{0, pak_header(1) + pak_record("big.bin", size, 272)}}));
    EXPECT_EQ(play(UNPACKER_PATH, scratch.path("huge.pak"), {{"big.bin ...", ""}}), "");
}

// A reader that has gone, as when `| head` has seen enough, does not kill
// the program at its first line: the copies are made, and the status is 1.
TEST(ConsoleOnAPipe, AReaderThatHasGoneCostsTheStatusNotTheWork) {
    const ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch.path("a.txt"), "a"));
    int to_reader[2];
    ASSERT_EQ(pipe(to_reader), 0);
    close(to_reader[0]);
    const pid_t child = fork();
    if (child == 0) {
        // Whatever this process was started with: only the program may ignore it.
        std::signal(SIGPIPE, SIG_DFL);
        dup2(to_reader[1], 1);
        close(0);
        execl(SCRAMBLER_PATH, SCRAMBLER_PATH, scratch.root.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(to_reader[1]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(read_file(scratch.path("_o_a.txt")), scrambled("a"));
}

// A file named with escape sequences in a tree someone else controls must
// not drive the terminal of whoever scrambles it: there each control
// character of a name (ESC, BEL, newline, DEL, the C1 controls, and a lone
// byte that an 8-bit terminal takes for one, as in a form that is no
// character) is shown as '?', while other characters stay; a pipe gets
// the names' bytes as they are. The unpacker's names, stored in the
// archive, are shown the same way.
TEST(ConsoleOnATerminal, ControlCharactersOfNamesAreShownAsQuestionMarks) {
    const ScratchDir scratch;
    ASSERT_TRUE(make_dir(scratch.path("tree")));
    const std::pair<std::string, std::string> names[] = {
        {"a\x1b]0;owned\x07.txt", "a?]0;owned?.txt"},
        {"b\xC2\x9B" "31m.txt", "b?31m.txt"},
        {"c\nd\x1F.txt", "c?d?.txt"},
        {"e\x7F\x9B.txt", "e??.txt"},
        {"f\xC2\x9F.txt", "f?.txt"},
        // Overlong and surrogate forms are no characters: the 0x9B in each
        // is CSI to an 8-bit terminal.
        {"o\xE0\x82\x9B" "2J.txt", "o\xE0??2J.txt"},
        {"q\xED\xA0\x9B" "1m.txt", "q\xED\xA0?1m.txt"},
        {"w\xF0\x80\x82\x9B" "3m.txt", "w\xF0???3m.txt"},
        {"\xC3\xA9\xC4\x9B\xC2\xA0\xFF.txt", "\xC3\xA9\xC4\x9B\xC2\xA0\xFF.txt"}};
    std::string piped = "press enter to start...";
    std::string shown = piped;
    for (const auto& [name, at_terminal] : names) {
        ASSERT_TRUE(write_file(scratch.path("tree/" + name), "x"));
        piped += name + " ...done.\n";
        shown += at_terminal + " ...done.\n";
    }
    piped += "successful.\n" + kPress;
    shown += "successful.\n" + kPress;
    EXPECT_EQ(run_at_terminal(SCRAMBLER_PATH, scratch.path("tree")), shown);
    EXPECT_EQ(run_program(SCRAMBLER_PATH, {scratch.path("tree")}, "").output, piped);

    // A lone byte 0x80 to 0x9F is no character of a Linux name, and only
    // Windows cannot store <>"|?*: both names are written here.
    ASSERT_TRUE(write_file(scratch.path("x.pak"), make_pak({{"x\x9B[2J.txt", "x"}, {"q<>\"|?*\x85.txt", "q"}})));
    const std::string files = "files: 2\n00000218 - 00000218: ";
    const std::string second = "00000219 - 00000219: ";
    EXPECT_EQ(run_at_terminal(UNPACKER_PATH, scratch.path("x.pak")),
              files + "x?[2J.txt ...done.\n" + second + "q<>\"|?*?.txt ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(run_program(UNPACKER_PATH, {scratch.path("x.pak")}, "").output,
              files + "x\x9B[2J.txt ...done.\n" + second + "q<>\"|?*\x85.txt ...done.\nsuccessful.\n" + kPress);
    EXPECT_EQ(read_file(scratch.path("x/q<>\"|?*\x85.txt")), "q");
}

#endif
