#include <cstdio>

#include "common/console.h"
#include "common/platform.h"
#include "scrambler/run_scrambler.h"

int main(int argc, char** argv) {
    init_process();
    Console console = make_console(stdin, stdout);
    const int status = run_scrambler(argc, argv, console);
    console_flush(console);
    return status;
}
