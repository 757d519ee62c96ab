#include <cstdio>

#include "common/console.h"
#include "common/platform.h"
#include "unpacker/run_unpacker.h"

// The unpacker's entry point: the real console, the driver, its exit status.
int main(int argc, char** argv) {
    init_process();
    Console console = make_console(stdin, stdout);
    int status = run_unpacker(argc, argv, console);
    console_flush(console);
    return status;
}
