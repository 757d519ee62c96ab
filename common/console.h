#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

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
    // Whether a piece could not be written to the terminal by a call the
    // stream's error flag does not see (WriteConsoleW on Windows).
    bool write_failed = false;
};

Console make_console(FILE* in, FILE* out);

#if defined(__GNUC__)
#define CONSOLE_PRINTF_FORMAT __attribute__((format(printf, 2, 3)))
#else
#define CONSOLE_PRINTF_FORMAT
#endif

void console_print(Console& console, const char* format, ...) CONSOLE_PRINTF_FORMAT;

// Prints a file's name, held as path.h says, as one piece of a line. A
// pipe or a file gets it as the programs have always written it (on
// Windows in the active code page), so a transcript holds the name's bytes.
// At a terminal each control character (below 0x20, 0x7F, U+0080 to
// U+009F, and a lone byte 0x80 to 0x9F that an 8-bit terminal would take
// for one, as is each byte of an overlong or surrogate form) is shown as
// '?', as ls does: a name from a tree someone else controls cannot move
// the cursor, recolour or retitle the terminal of whoever reads it. A
// Windows console is given the name's own characters.
void console_print_name(Console& console, std::string_view name);

// As console_print_name, for a name as an archive stores it (on Windows in
// the active code page): a pipe or a file gets the stored bytes unchanged.
void console_print_stored_name(Console& console, std::string_view stored);

// Pushes out whatever is still buffered; called before every pause and at exit.
void console_flush(Console& console);

// The pause: reads exactly one character, so a typed-ahead line is left for
// the next pause. Returns at once at end of input.
void wait_for_key(Console& console);

// Ends a run: `message` on a line of its own (the line is broken first when
// a piece before it left one open; a message that begins with its own line
// break has it only then), then the line that asks for a key, then the
// pause. Returns `status`, for the driver to return.
int finish_run(Console& console, const char* message, int status);

// A file of more than this many bytes takes long enough that its line is
// pushed out before the work starts, whatever the console is, so that
// `program ... | tee log` tells which file is being worked on.
inline constexpr int64_t kLongWorkBytes = int64_t{64} * 1024;

// Shows what was printed before work on `bytes` bytes, when that is long work.
void show_before_work(Console& console, int64_t bytes);
