#include "scrambler/run_scrambler.h"

#include <string>

#include "common/directory.h"
#include "common/durability.h"
#include "scrambler/scrambler_texts.h"
#include "scrambler/walk_tree.h"

namespace {

// The files scrambled, one walk of the whole tree for each pattern, in
// this order; names are matched without regard to letter case.
constexpr const char* kScrambledKinds[] = {"*.bmp", "*.tga", "*.txt"};

}  // namespace

int run_scrambler(int argc, char** argv, Console& console) {
    if (argc != 2) return 2;
    const std::string argument = argv[1];
    switch (probe_path(argument)) {
        case PathKind::missing: return finish_run(console, kDirectoryOpenError, 1);
        case PathKind::other: return finish_run(console, kNotADirectory, 1);
        case PathKind::directory: break;
    }
    // The directory the probe found is opened once, as given (no separator
    // is added, which would change what a path such as a bare drive means),
    // and held for all the walks: nothing done to its name meanwhile, at
    // the pause or between walks, can send a walk anywhere else. One that
    // cannot be opened is walked as nothing, and the run does not end as if
    // all was done.
    DirectoryHandle top;
    const bool opened = static_cast<bool>(open_directory(top, argument));
    console_print(console, "%s", kStartPrompt);
    wait_for_key(console);
    // Each kind of file in turn, in its order: each walk covers the whole
    // tree, and a failure in one does not skip the others.
    bool all_done = opened;
    WrittenFileSystems written;
    if (opened)
        for (const char* pattern : kScrambledKinds) all_done = walk_tree(top, pattern, console, written) && all_done;
    // The copies go to disk before the run says it is over. One that could
    // not is a write error, worded as a file's: on a line of its own.
    const Status flushed = flush_written(written);
    if (!flushed) {
        console_print(console, "%s", file_result_text(flushed));
        all_done = false;
    }
    return finish_run(console, kSuccessful, all_done ? 0 : 1);
}
