// The Windows program's edges: the command line, the console and archive
// entry names, the only places the active code page is met; every
// conversion there is exact or refused, never a best fit.

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>

#include "common/platform.h"
#include "common/wide_path-win32.h"

// Windows' own separator, for paths the programs join.
char path_separator() { return '\\'; }

// Windows takes '/' as well as '\\' between components.
bool is_path_separator(char c) { return c == '\\' || c == '/'; }

// The arguments from the UTF-16 command line: main's argv holds them in the
// active code page, where every character the code page lacks has been
// replaced by a look-alike ("ｃ.pak" arrives as "c.pak"). The C runtime's
// argv serves only if Windows cannot split the command line.
std::vector<std::string> program_arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) arguments.push_back(utf8_from_utf16(wide[i]));
    LocalFree(wide);
    return arguments;
}

// Arguments reach main exactly as typed: the C runtime must not expand
// wildcards in them, or "scrambler *" would become a list of names.
extern "C" {
int _dowildcard = 0;
}

// Standard output in binary mode: the programs write "\n" alone, the same
// bytes as on Linux, rather than the text mode's "\r\n". Standard input
// stays in text mode, so Enter at a console ("\r\n") is one key to the
// pause. A missing drive gives an error, not a system dialog box. Nothing
// is needed for interrupts: a temporary being written is marked to be
// deleted when closed, which Windows does however the program ends.
void init_process() {
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

// A console, not a file or pipe (nor the NUL device, which _isatty counts).
bool is_terminal(FILE* stream) {
    if (stream == nullptr) return false;
    const intptr_t os_handle = _get_osfhandle(_fileno(stream));
    DWORD mode = 0;
    return os_handle != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(os_handle), &mode) != 0;
}

// Names are shown in the active code page, as the console and any file the
// output is sent to expect: byte for byte what an ANSI program printed for
// every name the code page holds. A character it lacks becomes the code
// page's default character, never a look-alike that would name another file.
std::string name_for_console(std::string_view name) {
    std::wstring wide;
    if (GetACP() == CP_UTF8 || !utf16_from_utf8(name, wide) || wide.empty()) return std::string(name);
    const int length = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr,
                                         nullptr);
    if (size <= 0) return std::string(name);
    std::string shown(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, shown.data(), size, nullptr, nullptr);
    return shown;
}

// An entry's name is read in the active code page, and refused only where
// it holds bytes that are no character there. A character with two codes
// (code page 932 has NEC's and IBM's for 髙, Ⅰ, ∵ and others) is the same
// character either way: two entries naming it at different codes are two
// entries with one name, the later one written last.
bool archive_name_to_path(std::string_view stored, std::string& path) {
    path.clear();
    if (stored.empty()) return true;
    const UINT code_page = GetACP();
    const int length = static_cast<int>(stored.size());
    const int wide_size = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, stored.data(), length, nullptr, 0);
    if (wide_size <= 0) return false;
    std::wstring wide(static_cast<size_t>(wide_size), L'\0');
    if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, stored.data(), length, wide.data(), wide_size) !=
        wide_size)
        return false;
    path = utf8_from_utf16(wide);
    return true;
}

// Windows stores "a." and "a " as "a" (save by \\?\ paths, which Explorer
// cannot follow), so the unpacker names its folder as it will be stored.
bool names_lose_trailing_dots_and_spaces() { return true; }

