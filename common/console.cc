#include "common/console.h"

#include <cstdarg>

#include "common/process.h"

// Binds a console to two streams and notes whether output is a terminal,
// which decides whether every piece is flushed at once.
Console make_console(FILE* in, FILE* out) {
    Console console;
    console.in = in;
    console.out = out;
    console.out_is_terminal = is_terminal(out);
    return console;
}

// Prints one message piece; at a terminal it is shown before the work that
// follows it starts.
void console_print(Console& console, const char* format, ...) {
    char piece[1024];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(piece, sizeof piece, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof piece) {
        std::fwrite(piece, 1, static_cast<size_t>(length), console.out);
    } else {
        va_start(arguments, format);
        std::vfprintf(console.out, format, arguments);
        va_end(arguments);
    }
    if (length > 0) console.at_line_start = false;
    if (length > 0 && static_cast<size_t>(length) <= sizeof piece - 1)
        console.at_line_start = piece[length - 1] == '\n';
    if (console.out_is_terminal) std::fflush(console.out);
}
void console_flush(Console& console) { std::fflush(console.out); }

void show_before_work(Console& console, int64_t bytes) {
    if (bytes > kLongWorkBytes) console_flush(console);
}

// Flushes first so the prompt before the pause is always visible, then takes
// one character, leaving the rest of a typed line for the next pause.
// Enter, echoed at a terminal, ends the line the prompt left open.
void wait_for_key(Console& console) {
    console_flush(console);
    (void)std::fgetc(console.in);
    console.at_line_start = true;
}

int finish_run(Console& console, const char* message, int status) {
    // A message's own leading line break ends an open line; on a fresh
    // line it would only leave an empty one.
    if (message[0] == '\n' && console.at_line_start) ++message;
    if (!console.at_line_start && message[0] != '\n') console_print(console, "\n");
    console_print(console, "%s\npress enter key.\n", message);
    wait_for_key(console);
    return status;
}
