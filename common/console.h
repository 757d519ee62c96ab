#pragma once

#include <cstdio>

// The two ends of a program's console dialogue. Drivers take it as a
// parameter so that tests can run them in-process against plain files.
struct Console {
    FILE* in = nullptr;
    FILE* out = nullptr;
    // At a terminal every piece is shown the moment it is printed, so a
    // prompt or a file's name is visible before the work that follows it.
    bool out_is_terminal = false;
    // Whether the last piece printed ended its line, so a message that must
    // stand on a line of its own knows whether to break the line first.
    bool at_line_start = true;
};

Console make_console(FILE* in, FILE* out);

#if defined(__GNUC__)
#define CONSOLE_PRINTF_FORMAT __attribute__((format(printf, 2, 3)))
#else
#define CONSOLE_PRINTF_FORMAT
#endif

void console_print(Console& console, const char* format, ...) CONSOLE_PRINTF_FORMAT;

// Pushes out whatever is still buffered; called before every pause and at exit.
void console_flush(Console& console);

// The pause: reads exactly one character, so a typed-ahead line is left for
// the next pause. Returns at once at end of input.
void wait_for_key(Console& console);
