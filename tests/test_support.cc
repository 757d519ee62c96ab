#include "test_support.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#else
#include <windows.h>
#endif

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    std::random_device seed;
    std::mt19937_64 generator(seed());
    for (;;) {
        const fs::path candidate =
            fs::temp_directory_path() / ("assettools-test-" + std::to_string(generator() % 1000000000));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            root = candidate.string();
            return;
        }
    }
}

ScratchDir::~ScratchDir() {
    std::error_code error;
    // Restore permissions a test may have taken away so the removal succeeds.
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(root, error);
}

std::string ScratchDir::path(const std::string& name) const {
    if (name.empty()) return root;
    return (fs::path(root) / fs::path(name)).make_preferred().string();
}

bool write_file(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::string read_file(const std::string& path, bool* ok) {
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (ok != nullptr) *ok = file != nullptr;
    if (file == nullptr) return bytes;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
}

bool file_exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

bool make_dir(const std::string& path) {
    std::error_code error;
    return fs::create_directory(path, error);
}

bool make_link_swap_scene(const std::string& tree, const std::string& outside) {
    const auto in = [](const std::string& folder, const char* name) {
        return folder + path_separator() + name;
    };
    return write_file(in(outside, "o.bmp"), "outside") && make_dir(in(outside, "c")) &&
           write_file(in(in(outside, "c"), "o.bmp"), "outside") && make_dir(in(tree, "b")) &&
           make_dir(in(in(tree, "b"), "c")) && write_file(in(in(in(tree, "b"), "c"), "c.bmp"), "c");
}

std::vector<std::string> list_names(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = fs::directory_iterator(directory, error); !error && it != fs::directory_iterator();
         it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string scrambled(const std::string& bytes) {
    static const unsigned char kKey[15] = {0x5A, 0xC3, 0x1E, 0x96, 0x07, 0xB4, 0x3D, 0xE8,
                                           0x71, 0x0F, 0xA2, 0x4C, 0xD9, 0x66, 0x2B};
    std::string out = bytes;
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ kKey[i % sizeof kKey]);
    return out;
}

std::vector<std::string> names_of(const DirListing& listing) {
    std::vector<std::string> names;
    names.reserve(listing.entries.size());
    for (const DirEntry& entry : listing.entries) names.emplace_back(entry_name(listing, entry));
    return names;
}

std::string patterned_bytes(size_t length) {
    std::string bytes(length, '\0');
    uint32_t state = 2463534242u;
    for (char& c : bytes) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        c = static_cast<char>(state);
    }
    return bytes;
}

bool is_temporary_name(const std::string& name) {
    return name.rfind("_o_~", 0) == 0 || name.rfind(".unpacker-~", 0) == 0;
}

std::vector<std::string> temporaries(const std::vector<std::string>& names) {
    std::vector<std::string> found;
    for (const std::string& name : names)
        if (is_temporary_name(name)) found.push_back(name);
    return found;
}

std::vector<char*> argv_of(std::vector<std::string>& storage) {
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

size_t count_of(const std::string& text, const std::string& piece) {
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
}

namespace {

std::string read_rest(FILE* file) {
    std::string bytes;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    return bytes;
}

}  // namespace

CapturedConsole::CapturedConsole(const std::string& typed) {
    console.in = std::tmpfile();
    console.out = std::tmpfile();
    std::fwrite(typed.data(), 1, typed.size(), console.in);
    std::rewind(console.in);
}

CapturedConsole::~CapturedConsole() {
    std::fclose(console.in);
    std::fclose(console.out);
}

std::string CapturedConsole::output() {
    std::fflush(console.out);
    std::rewind(console.out);
    std::string text = read_rest(console.out);
    std::fseek(console.out, 0, SEEK_END);
    return text;
}

std::string CapturedConsole::unread_input() { return read_rest(console.in); }

#ifndef _WIN32

namespace {

// Runs `program` in a child; `limit` above 0 caps the child's `resource`.
ProcessResult run_child(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& typed, int resource, uint64_t limit, bool unprivileged = false) {
    ProcessResult result;
    ScratchDir scratch;
    const std::string input_path = scratch.path("stdin");
    const std::string output_path = scratch.path("stdout");
    write_file(input_path, typed);
    const pid_t child = fork();
    if (child == 0) {
        const int in = open(input_path.c_str(), O_RDONLY);
        const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
        if (unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kUnprivilegedId) != 0 || setuid(kUnprivilegedId) != 0))
            _exit(126);
        // Whatever this process was started with, the program meets a full
        // disk or a gone reader with the signals' own ending actions: only
        // its own start may ignore them.
        std::signal(SIGXFSZ, SIG_DFL);
        std::signal(SIGPIPE, SIG_DFL);
        if (limit > 0) {
            const rlimit cap{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
            if (setrlimit(resource, &cap) != 0) _exit(126);
        }
        std::vector<std::string> storage{program};
        storage.insert(storage.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv = argv_of(storage);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    result.peak_kib = static_cast<long>(usage.ru_maxrss);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.output = read_file(output_path);
    return result;
}

}  // namespace

ProcessResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& typed) {
    return run_child(program, arguments, typed, RLIMIT_FSIZE, 0);
}

ProcessResult run_program_unprivileged(const std::string& program, const std::vector<std::string>& arguments,
                                       const std::string& typed) {
    return run_child(program, arguments, typed, RLIMIT_FSIZE, 0, true);
}

namespace {

// One poll-and-read loop for both readers below: reads until `done` holds,
// the writer has gone (end of file, or EIO from a terminal), or the
// deadline. True when `done` held.
template <typename Done>
bool read_while_waiting(int fd, std::string& seen, int seconds, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd ready{fd, POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) return false;
        char buffer[4096];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        seen.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

}  // namespace

bool read_until(int fd, std::string& seen, const std::string& wanted, int seconds) {
    return read_while_waiting(fd, seen, seconds, [&] { return seen.find(wanted) != std::string::npos; });
}

std::string read_to_end(int fd, int seconds) {
    std::string seen;
    read_while_waiting(fd, seen, seconds, [] { return false; });
    return seen;
}

void give_to_unprivileged_user(const std::string& path) {
    if (geteuid() != 0) return;
    std::error_code error;
    (void)lchown(path.c_str(), kUnprivilegedId, kUnprivilegedId);
    for (auto it = fs::recursive_directory_iterator(path, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        (void)lchown(it->path().c_str(), kUnprivilegedId, kUnprivilegedId);
}

ProcessResult run_program_with_file_size_limit(const std::string& program, const std::vector<std::string>& arguments,
                                               const std::string& typed, uint64_t limit) {
    return run_child(program, arguments, typed, RLIMIT_FSIZE, limit);
}

ProcessResult run_program_with_limit(const std::string& program, const std::vector<std::string>& arguments,
                                     const std::string& typed, int resource, uint64_t limit) {
    return run_child(program, arguments, typed, resource, limit);
}

ScratchInMemory::ScratchInMemory() {
    const char* before = std::getenv("TMPDIR");
    had_before = before != nullptr;
    if (had_before) saved = before;
    struct stat shm;
    if (stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) && access("/dev/shm", W_OK) == 0)
        setenv("TMPDIR", "/dev/shm", 1);
}

ScratchInMemory::~ScratchInMemory() {
    if (had_before) {
        setenv("TMPDIR", saved.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

#else

namespace {

// The program's UTF-8 text as the UTF-16 that CreateProcessW takes.
std::wstring wide_text(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

// One argument quoted so that CommandLineToArgvW and the C runtime give it
// back unchanged: backslashes are doubled only where a quote follows them.
std::wstring quoted_argument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

}  // namespace

// CreateProcessW with a command line quoted for any argument (blanks,
// quotes, trailing backslashes, characters outside the code page), standard
// input and output redirected to files by inherited handles; no shell.
ProcessResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& typed) {
    ProcessResult result;
    ScratchDir scratch;
    const std::string input_path = scratch.path("stdin");
    const std::string output_path = scratch.path("stdout");
    write_file(input_path, typed);
    // A program path holds no quote, so argv[0]'s own rule (up to the next
    // quote) reads it whole.
    std::wstring command = L"\"" + wide_text(program) + L"\"";
    for (const std::string& argument : arguments) command += L" " + quoted_argument(wide_text(argument));
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE in = CreateFileW(wide_text(input_path).c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE out = CreateFileW(wide_text(output_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
        CreateProcessW(wide_text(program).c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process) != 0) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code) != 0) result.exit_status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    result.output = read_file(output_path);
    return result;
}

#endif
