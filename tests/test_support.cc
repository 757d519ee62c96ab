#include "test_support.h"

#include <algorithm>
#include <cstdio>
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
#include <winioctl.h>

#include <cstring>

#include "wide_files_win32.h"
#endif

#include "common/safe_output.h"
#include "scrambler/run_scrambler.h"
#include "unpacker/run_unpacker.h"

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

std::string scrambled(const std::string& bytes, int64_t offset) {
    static const unsigned char kKey[15] = {0x5A, 0xC3, 0x1E, 0x96, 0x07, 0xB4, 0x3D, 0xE8,
                                           0x71, 0x0F, 0xA2, 0x4C, 0xD9, 0x66, 0x2B};
    std::string out = bytes;
    for (size_t i = 0; i < out.size(); ++i) {
        const int64_t at = (offset + static_cast<int64_t>(i)) % static_cast<int64_t>(sizeof kKey);
        out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ kKey[at]);
    }
    return out;
}

bool write_safely(const DirectoryHandle& directory, const std::string& relative, const std::string& bytes) {
    SafeOutput output;
    return safe_output_open(output, directory, relative, "_o_") &&
           safe_output_write(output, bytes.data(), bytes.size()) && safe_output_commit(output);
}

namespace {

// An open file for reads and writes at 64-bit offsets, the same way on both
// platforms, whatever the width of size_t and long.
#ifdef _WIN32
struct RawFile {
    RawFile(const std::string& path, bool create) {
        handle = CreateFileW(wide_of(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE && create) {
            // NTFS leaves the unwritten ranges unallocated only when asked.
            DWORD returned = 0;
            DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        }
    }
    ~RawFile() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    bool ok() const { return handle != INVALID_HANDLE_VALUE; }
    bool seek(int64_t offset) const {
        LARGE_INTEGER to;
        to.QuadPart = offset;
        return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) != 0;
    }
    bool resize(int64_t size) const { return seek(size) && SetEndOfFile(handle) != 0; }
    bool write_at(int64_t offset, const std::string& bytes) const {
        DWORD done = 0;
        return seek(offset) && WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) != 0 &&
               done == bytes.size();
    }
    std::string read_at(int64_t offset, size_t length) const {
        std::string bytes(length, '\0');
        DWORD done = 0;
        if (!seek(offset) || ReadFile(handle, bytes.data(), static_cast<DWORD>(length), &done, nullptr) == 0) done = 0;
        bytes.resize(done);
        return bytes;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
};
#else
struct RawFile {
    RawFile(const std::string& path, bool create)
        : fd(open(path.c_str(), create ? O_RDWR | O_CREAT | O_TRUNC : O_RDONLY, 0600)) {}
    ~RawFile() {
        if (fd >= 0) close(fd);
    }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    bool ok() const { return fd >= 0; }
    bool resize(int64_t size) const { return ftruncate(fd, static_cast<off_t>(size)) == 0; }
    bool write_at(int64_t offset, const std::string& bytes) const {
        return pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes.size());
    }
    std::string read_at(int64_t offset, size_t length) const {
        std::string bytes(length, '\0');
        const ssize_t done = pread(fd, bytes.data(), length, static_cast<off_t>(offset));
        bytes.resize(done > 0 ? static_cast<size_t>(done) : 0);
        return bytes;
    }
    int fd;
};
#endif

}  // namespace

bool make_sparse_file(const std::string& path, int64_t size,
                      const std::vector<std::pair<int64_t, std::string>>& pieces) {
    const RawFile file(path, true);
    if (!file.ok() || !file.resize(size)) return false;
    for (const auto& [offset, bytes] : pieces)
        if (!file.write_at(offset, bytes)) return false;
    return true;
}

std::string read_file_at(const std::string& path, int64_t offset, size_t length) {
    const RawFile file(path, false);
    return file.ok() ? file.read_at(offset, length) : std::string();
}

LinkSwap link_swap;

void swap_folder_for_link(const std::string& name) {
    if (link_swap.when.empty() || name != link_swap.when) return;
    link_swap.when.clear();
    const std::string& folder = link_swap.folder;
#ifdef _WIN32
    link_swap.moved = MoveFileExW(literal_path(folder).c_str(), literal_path(folder + ".real").c_str(), 0) != 0;
    link_swap.linked = link_swap.moved && make_link(folder, link_swap.target, true);
#else
    link_swap.moved = rename(folder.c_str(), (folder + ".real").c_str()) == 0;
    link_swap.linked = link_swap.moved && symlink(link_swap.target.c_str(), folder.c_str()) == 0;
#endif
}

ProcessResult run_scrambler_program(const std::string& directory, const std::string& typed) {
    return run_program(SCRAMBLER_PATH, {directory}, typed);
}

ProcessResult run_unpacker_program(const std::string& archive, const std::string& typed) {
    return run_program(UNPACKER_PATH, {archive}, typed);
}

DriverRun run_scrambler_driver(const std::vector<std::string>& arguments, const std::string& typed) {
    return run_driver(run_scrambler, arguments, typed);
}

DriverRun run_unpacker_driver(const std::string& archive, const std::string& typed) {
    return run_driver(run_unpacker, {archive}, typed);
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
    // Opened here and shared with the child, so its offset tells afterwards
    // how far the program read.
    const int in = open(input_path.c_str(), O_RDONLY | O_CLOEXEC);
    const pid_t child = fork();
    if (child == 0) {
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
    const off_t read_to = in < 0 ? 0 : lseek(in, 0, SEEK_CUR);
    result.unread = typed.substr(std::min(typed.size(), static_cast<size_t>(read_to > 0 ? read_to : 0)));
    if (in >= 0) close(in);
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

std::wstring wide_of(std::string_view text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

namespace {

// Runs a host tool under Wine (Windows programs there can start Linux ones)
// with `option` and then `paths`, given as Windows paths and handed over as
// Linux paths. False when not under Wine, and in the 32-bit build: its
// Wine runs under qemu on a host without 32-bit support, where starting a
// host program now and then ended the test process itself, silently and
// with status 0. Wine gives a Linux program no handle to wait on, so the
// caller waits for what the tool does.
bool run_on_wine_host(const std::wstring& tool, const std::wstring& option, const std::vector<std::string>& paths) {
#ifndef _WIN64
    (void)tool;
    (void)option;
    (void)paths;
    return false;
#endif
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unix_name == nullptr) return false;
    std::wstring command = L"/bin/" + tool + L" " + option;
    for (const std::string& path : paths) {
        char* host = unix_name(wide_of(path).c_str());
        if (host == nullptr) return false;
        command += L" \"" + wide_of(host) + L"\"";
        HeapFree(GetProcessHeap(), 0, host);
    }
    const std::wstring program = L"Z:\\bin\\" + tool;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process) == 0)
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Waits up to five seconds for `done` to hold.
template <typename Check>
bool eventually(Check done) {
    for (int wait = 0; wait < 50 && !done(); ++wait) Sleep(100);
    return done();
}

// Whether Windows shows a reparse point (a link or junction) at `path`.
bool is_reparse_point(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(literal_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A junction at `link` to the directory `target`, as any user may make one
// on Windows.
bool make_junction(const std::string& link, const std::string& target) {
    if (!make_dir_wide(link)) return false;
    HANDLE directory = CreateFileW(literal_path(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const std::wstring substitute = L"\\??\\" + wide_of(target);
    const auto bytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    // REPARSE_DATA_BUFFER for a mount point: tag, data length, reserved,
    // then the substitute name's offset and length and an empty print name.
    std::vector<unsigned char> buffer(16 + bytes + 4, 0);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD fields[6] = {static_cast<WORD>(8 + bytes + 4), 0, 0, bytes, static_cast<WORD>(bytes + 2), 0};
    std::memcpy(buffer.data(), &tag, sizeof tag);
    std::memcpy(buffer.data() + 4, fields, sizeof fields);
    std::memcpy(buffer.data() + 16, substitute.data(), bytes);
    DWORD returned = 0;
    const bool made = directory != INVALID_HANDLE_VALUE &&
                      DeviceIoControl(directory, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                      static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr) != 0;
    if (directory != INVALID_HANDLE_VALUE) CloseHandle(directory);
    if (!made) RemoveDirectoryW(literal_path(link).c_str());
    return made;
}

}  // namespace

void remove_link(const std::string& link, bool directory) {
    if (run_on_wine_host(L"rm", L"-f", {link}) && eventually([&] { return !exists_wide(link); })) return;
    if (directory)
        RemoveDirectoryW(literal_path(link).c_str());
    else
        DeleteFileW(literal_path(link).c_str());
}

bool make_link(const std::string& link, const std::string& target, bool directory) {
    if (directory && make_junction(link, target)) return true;
    if (!directory && CreateSymbolicLinkW(literal_path(link).c_str(), literal_path(target).c_str(),
                                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0 &&
        is_reparse_point(link))
        return true;
    // Wine shows a Linux link to a directory as a reparse point, but one to
    // a file as a plain file: that cannot stand for a link here.
    const bool made = run_on_wine_host(L"ln", L"-s", {target, link}) && eventually([&] { return exists_wide(link); });
    if (made && !is_reparse_point(link)) remove_link(link, directory);
    return made && exists_wide(link);
}

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
    std::wstring command = L"\"" + wide_of(program) + L"\"";
    for (const std::string& argument : arguments) command += L" " + quoted_argument(wide_of(argument));
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE in = CreateFileW(wide_of(input_path).c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE out = CreateFileW(wide_of(output_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
        CreateProcessW(wide_of(program).c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process) != 0) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code) != 0) result.exit_status = static_cast<int>(code);
        // The handle the program inherited shares its position with this one.
        LARGE_INTEGER read_to{};
        const LARGE_INTEGER none{};
        SetFilePointerEx(in, none, &read_to, FILE_CURRENT);
        result.unread = typed.substr(std::min(typed.size(), static_cast<size_t>(read_to.QuadPart)));
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    result.output = read_file(output_path);
    return result;
}

#endif
