// The process's start and its console on Windows: the command line read as
// UTF-16, standard output in binary mode, and what a console is.

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "common/process.h"
#include "common/wide_path-win32.h"

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
//
// A 32-bit program on 64-bit Windows would have every path into
// C:\Windows\System32 quietly taken to SysWOW64, and so work on files other
// than those the user named. That redirection is turned off for the whole
// run: the programs are one thread, and every library they use is loaded
// when they start (none later, which the redirection would break).
// Elsewhere the call does nothing.
void init_process() {
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    void* redirection = nullptr;
    Wow64DisableWow64FsRedirection(&redirection);
}

// A console, not a file or pipe (nor the NUL device, which _isatty counts).
bool is_terminal(FILE* stream) {
    if (stream == nullptr) return false;
    const intptr_t os_handle = _get_osfhandle(_fileno(stream));
    DWORD mode = 0;
    return os_handle != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(os_handle), &mode) != 0;
}

// Text that is no UTF-8 (a stored name in no known form) is read in the
// active code page, as a pipe would have carried it.
bool write_to_terminal(FILE* stream, std::string_view text) {
    std::fflush(stream);
    std::wstring wide;
    if (!utf16_from_utf8(text, wide)) {
        const int length = static_cast<int>(text.size());
        const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
        if (size <= 0) return false;
        wide.assign(static_cast<size_t>(size), L'\0');
        MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size);
    }
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    for (size_t done = 0; done < wide.size();) {
        DWORD written = 0;
        const auto want = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
        if (WriteConsoleW(console, wide.data() + done, want, &written, nullptr) == 0 || written == 0) return false;
        done += written;
    }
    return true;
}
