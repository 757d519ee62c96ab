#include "common/console.h"

#include <cstdarg>
#include <string>

#include "common/code_page.h"
#include "common/process.h"
#include "common/utf8.h"

namespace {

// Writes one piece: at a terminal at once, and on Windows as characters;
// elsewhere into the stream's buffer.
void write_piece(Console& console, std::string_view piece) {
    if (piece.empty()) return;
    if (console.out_is_terminal) {
        if (!write_to_terminal(console.out, piece)) console.write_failed = true;
    } else {
        std::fwrite(piece.data(), 1, piece.size(), console.out);
    }
    console.at_line_start = piece.back() == '\n';
}

// `name` with each control character made '?', and each byte that an 8-bit
// terminal reads as a control outside a whole UTF-8 character: a form that
// is no character (overlong, a surrogate) is taken byte by byte, so the
// 0x9B inside one is CSI there. Every other byte, valid UTF-8 or not, stays
// as it is.
std::string shown_at_terminal(std::string_view name) {
    std::string shown;
    shown.reserve(name.size());
    for (size_t at = 0; at < name.size();) {
        const Utf8Unit unit = decode_utf8(name, at);
        const size_t length = unit.kind == Utf8Kind::character ? unit.length : 1;
        const char32_t point = unit.kind == Utf8Kind::character ? unit.point : static_cast<unsigned char>(name[at]);
        if (is_control_character(point)) {
            shown += '?';
        } else {
            shown.append(name.substr(at, length));
        }
        at += length;
    }
    return shown;
}

}  // namespace

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
        write_piece(console, std::string_view(piece, static_cast<size_t>(length)));
        return;
    }
    std::string long_piece(static_cast<size_t>(length) + 1, '\0');
    va_start(arguments, format);
    std::vsnprintf(long_piece.data(), long_piece.size(), format, arguments);
    va_end(arguments);
    long_piece.pop_back();
    write_piece(console, long_piece);
}

void console_print_name(Console& console, std::string_view name) {
    write_piece(console, console.out_is_terminal ? shown_at_terminal(name) : name_for_console(name));
}

// At a terminal the stored name is read as the name it stands for; one
// that does not convert is shown by its bytes, its controls made '?' too.
void console_print_stored_name(Console& console, std::string_view stored) {
    if (!console.out_is_terminal) {
        write_piece(console, stored);
        return;
    }
    std::string name;
    write_piece(console, shown_at_terminal(archive_name_to_path(stored, name) ? std::string_view(name) : stored));
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
