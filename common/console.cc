#include "common/console.h"

#include <cstdarg>

#ifdef _WIN32
#include <io.h>
#define console_isatty _isatty
#define console_fileno _fileno
#else
#include <unistd.h>
#define console_isatty isatty
#define console_fileno fileno
#endif

// Binds a console to two streams and notes whether output is a terminal,
// which decides whether every piece is flushed at once.
Console make_console(FILE* in, FILE* out) {
    Console console;
    console.in = in;
    console.out = out;
    console.out_is_terminal = out != nullptr && console_isatty(console_fileno(out)) != 0;
    return console;
}

// Prints one message piece; at a terminal it is shown before the work that
// follows it starts.
void console_print(Console& console, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(console.out, format, arguments);
    va_end(arguments);
    if (console.out_is_terminal) std::fflush(console.out);
}

void console_flush(Console& console) { std::fflush(console.out); }

// Flushes first so the prompt before the pause is always visible, then takes
// one character, leaving the rest of a typed line for the next pause.
void wait_for_key(Console& console) {
    console_flush(console);
    (void)std::fgetc(console.in);
}
