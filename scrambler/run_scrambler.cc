#include "scrambler/run_scrambler.h"

#include <string>

#include "common/platform.h"
#include "scrambler/walk_tree.h"

int run_scrambler(int argc, char** argv, Console& console) {
    if (argc != 2) return 2;
    const std::string argument = argv[1];
    switch (probe_path(argument)) {
        case PathKind::missing:
            console_print(console, "directory open error.\npress enter key.\n");
            wait_for_key(console);
            return 1;
        case PathKind::other:
            console_print(console, "It isn't directory.\npress enter key.\n");
            wait_for_key(console);
            return 1;
        case PathKind::directory: break;
    }
    // The walk opens the argument itself, as the probe saw it: no separator
    // is added, which would change what a path such as a bare drive means.
    console_print(console, "press enter to start...");
    wait_for_key(console);
    // All BMP files of the tree, then all TGA, then all TXT: each walk
    // covers the whole tree, and a failure in one does not skip the others.
    bool all_done = walk_tree(argument, "*.bmp", console);
    all_done = walk_tree(argument, "*.tga", console) && all_done;
    all_done = walk_tree(argument, "*.txt", console) && all_done;

    console_print(console, "successful.\npress enter key.\n");
    wait_for_key(console);
    return all_done ? 0 : 1;
}
