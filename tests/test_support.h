#pragma once

// Helpers shared by the tests: scratch folders, whole-file reads and writes,
// an in-process console, and running the real programs as processes.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/platform.h"

// A fresh folder under the system's temporary directory, removed with all
// its contents by the destructor.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    // `name` joined to the folder with the platform's separator.
    std::string path(const std::string& name = "") const;
    std::string root;
};

bool write_file(const std::string& path, const std::string& bytes);
// The file's bytes; `ok` (when given) tells whether it could be read.
std::string read_file(const std::string& path, bool* ok = nullptr);
bool file_exists(const std::string& path);
bool make_dir(const std::string& path);
// Names in a folder (not "." and ".."), sorted by bytes.
std::vector<std::string> list_names(const std::string& directory);

// A console whose input is `typed` and whose output is collected.
struct CapturedConsole {
    explicit CapturedConsole(const std::string& typed = "\n\n\n");
    ~CapturedConsole();
    CapturedConsole(const CapturedConsole&) = delete;
    CapturedConsole& operator=(const CapturedConsole&) = delete;
    std::string output();
    // Characters of the input not consumed yet.
    std::string unread_input();
    Console console;
};

// `bytes` as the scrambler writes them: byte i XOR key byte i mod 15, with
// the key written out here rather than taken from the product, so a wrong
// key byte fails every test that compares a copy.
std::string scrambled(const std::string& bytes);

// The scene of the tests that swap a folder for a link mid-walk: `tree`/b
// holding c/c.bmp, and `outside` holding o.bmp and c/o.bmp, which no walk of
// `tree` may ever read or write.
bool make_link_swap_scene(const std::string& tree, const std::string& outside);

// The names of listed entries, in the listing's order.
std::vector<std::string> names_of(const DirListing& listing);

// Bytes that differ from their neighbours all along, so a shifted or
// repeated block cannot pass for the right one.
std::string patterned_bytes(size_t length);

// Whether `name` is one of the temporaries the programs write a file under
// ("_o_~..." for the scrambler, ".unpacker-~..." for the unpacker): after
// any run, finished or failed, none may be left.
bool is_temporary_name(const std::string& name);

// The temporaries among `names`.
std::vector<std::string> temporaries(const std::vector<std::string>& names);

// The pause's answer, as both programs print it before every pause that ends a run.
inline const std::string kPress = "press enter key.\n";

// How many times `piece` occurs in `text`, overlaps counted.
size_t count_of(const std::string& text, const std::string& piece);

struct ProcessResult {
    int exit_status = -1;
    std::string output;
    long peak_kib = 0;  // the program's peak resident memory, where the system tells
};

// Runs `program` with `arguments`, standard input read from `typed`,
// standard output collected.
ProcessResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& typed);

#ifndef _WIN32
// As run_program, with every file the program writes capped at `limit`
// bytes the way a full disk or a quota stops a write. SIGXFSZ is left to
// its default, which kills: the program must ignore it itself, so that the
// write fails with an error instead.
ProcessResult run_program_with_file_size_limit(const std::string& program, const std::vector<std::string>& arguments,
                                               const std::string& typed, uint64_t limit);

// As run_program, with the program's `resource` (RLIMIT_STACK, RLIMIT_AS...)
// capped at `limit`.
ProcessResult run_program_with_limit(const std::string& program, const std::vector<std::string>& arguments,
                                     const std::string& typed, int resource, uint64_t limit);

// The user "nobody": as root, runs that need the system's permission
// checks to apply run as this user.
inline constexpr unsigned kUnprivilegedId = 65534;

// As run_program, as the user nobody when the tests run as root, so that
// permission bits hold as they do for an ordinary user.
ProcessResult run_program_unprivileged(const std::string& program, const std::vector<std::string>& arguments,
                                       const std::string& typed);

// Reads what the pipe or terminal `fd` gives, appending it to `seen`, until
// `wanted` is in `seen`, the writer has gone, or `seconds` have passed. A
// reader gets the program's writes in pieces as they come, so no single
// read is sure to hold two of them. True when `wanted` arrived.
bool read_until(int fd, std::string& seen, const std::string& wanted, int seconds = 10);

// All that the pipe or terminal `fd` gives until its writer has gone, or
// what came within `seconds` if it never goes.
std::string read_to_end(int fd, int seconds = 60);

// Hands `path` and all below it to the user nobody when the tests run as
// root, for run_program_unprivileged to work in.
void give_to_unprivileged_user(const std::string& path);

// Points the scratch folders made while it lives at memory (/dev/shm) where
// the system offers it: making and removing many thousands of files on a
// slow disk takes far longer than the run under test.
struct ScratchInMemory {
    ScratchInMemory();
    ~ScratchInMemory();
    ScratchInMemory(const ScratchInMemory&) = delete;
    ScratchInMemory& operator=(const ScratchInMemory&) = delete;
    bool had_before = false;
    std::string saved;
};
#endif

// An argument vector over `storage`, ended by a null pointer.
std::vector<char*> argv_of(std::vector<std::string>& storage);

// Calls a driver the way main does: argv[0] is the program's name.
template <typename Driver>
int call_driver(Driver driver, Console& console, const std::vector<std::string>& arguments) {
    std::vector<std::string> storage{"program"};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = argv_of(storage);
    return driver(static_cast<int>(storage.size()), argv.data(), console);
}

// A driver's run in-process: its status, what it printed, and the input it
// left unread.
struct DriverRun {
    int status;
    std::string output;
    std::string unread;
};

template <typename Driver>
DriverRun run_driver(Driver driver, const std::vector<std::string>& arguments, const std::string& typed) {
    CapturedConsole capture(typed);
    const int status = call_driver(driver, capture.console, arguments);
    return {status, capture.output(), capture.unread_input()};
}
