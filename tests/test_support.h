#pragma once

// Helpers shared by the tests: scratch folders, whole-file reads and writes,
// an in-process console, and running the real programs as processes.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
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

// `bytes` as the scrambler writes them at `offset` of a copy: byte i XOR
// key byte (offset + i) mod 15, counted in 64 bits, with the key written
// out here rather than taken from the product, so a wrong key byte fails
// every test that compares a copy.
std::string scrambled(const std::string& bytes, int64_t offset = 0);

// One whole file through the safe output into `directory`, which is held
// open; true when it stands complete under `relative`.
bool write_safely(const DirectoryHandle& directory, const std::string& relative, const std::string& bytes);

// A file of `size` bytes, all zero but for `pieces` written at their
// offsets, that costs no disk but for those where the file system allows.
bool make_sparse_file(const std::string& path, int64_t size,
                      const std::vector<std::pair<int64_t, std::string>>& pieces);

// Up to `length` bytes of the file at `offset`, counted in 64 bits whatever
// the width of size_t and long; fewer at its end.
std::string read_file_at(const std::string& path, int64_t offset, size_t length);

// A swap that swap_folder_for_link makes, as someone racing the walk could:
// the first time the walk is about to open `when`, `folder` is moved to
// `folder` + ".real" and a link to `target` put in its place. `moved` tells
// whether the system allowed the move (Windows refuses it for a folder the
// walk holds open), `linked` whether the link then stood.
struct LinkSwap {
    std::string when;
    std::string folder;
    std::string target;
    bool moved = false;
    bool linked = false;
};
extern LinkSwap link_swap;

// The walk's hook that makes link_swap's swap, once.
void swap_folder_for_link(const std::string& name);

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

// Enter for each of the scrambler's two pauses, and for the unpacker's one.
inline const std::string kEnterTwice = "\n\n";
inline const std::string kEnterOnce = "\n";

struct ProcessResult {
    int exit_status = -1;
    std::string output;
    // What the program never took of its input. It reads a file in blocks,
    // so this tells only whether it read at all: a pause reads it all.
    std::string unread;
    long peak_kib = 0;  // the program's peak resident memory, where the system tells
};

// Runs `program` with `arguments`, standard input read from `typed`,
// standard output collected.
ProcessResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& typed);

// The real programs on their one argument, Enter typed for each pause.
ProcessResult run_scrambler_program(const std::string& directory, const std::string& typed = kEnterTwice);
ProcessResult run_unpacker_program(const std::string& archive, const std::string& typed = kEnterOnce);

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

// The drivers in-process, as the programs would run them.
DriverRun run_scrambler_driver(const std::vector<std::string>& arguments, const std::string& typed = kEnterTwice);
DriverRun run_unpacker_driver(const std::string& archive, const std::string& typed);

#ifdef _WIN32
// UTF-8 text, as the programs hold names, as the UTF-16 the wide calls take.
std::wstring wide_of(std::string_view text);

// A link at `link` to `target`: a junction (for a directory) or a symbolic
// link (for a file, where the user may make one) on Windows; under Wine,
// which makes neither, a Linux symbolic link, which Wine lists as a reparse
// point. False when none can be made.
bool make_link(const std::string& link, const std::string& target, bool directory);

// Removes a link made by make_link, never what it leads to.
void remove_link(const std::string& link, bool directory);
#endif
