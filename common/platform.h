#pragma once

// The little the two programs need from the operating system, under one
// signature per operation. platform-posix.cc and platform-win32.cc each
// implement all of it; CMake picks one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// True for every byte that separates directories on this platform.
bool is_path_separator(char c);

enum class EntryKind { regular, directory, other };

struct DirEntry {
    std::string name;  // without any directory part
    EntryKind kind;    // what the entry leads to; a link is followed for this
    bool is_link;      // symbolic link, junction or other reparse point
};

// Lists the entries of `directory` whose names match the wildcard `pattern`,
// "." and ".." left out. The listing is read whole and closed before it
// returns. Returns false when the directory cannot be read.
bool list_directory(const std::string& directory, const std::string& pattern,
                    std::vector<DirEntry>& entries);

enum class PathKind { missing, directory, other };

// What stands at `path`, links followed.
PathKind probe_path(const std::string& path);

// Makes one directory. False when it could not be made, including when
// something already stands there.
bool create_directory(const std::string& path);

// Whether `byte` starts a double-byte character in the active code page.
// Always false where the code page has no double-byte characters.
bool is_lead_byte(unsigned char byte);

// Called first thing by each program: a write past a file-size limit or into
// a closed pipe then fails like any other write error, which the programs
// report, instead of killing the process and leaving temporaries behind.
void init_process();

// A regular file open for reading. Closed by its destructor.
struct InputFile {
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();
#ifdef _WIN32
    void* handle = nullptr;
#else
    int fd = -1;
#endif
};

// Opens a regular file, or a link to one. Anything else (a FIFO, socket or
// device) is refused without being opened in a way that could block.
bool open_input_file(InputFile& file, const std::string& path);

// Size in bytes, or -1.
int64_t input_file_size(InputFile& file);

// Sequential read: bytes read, 0 at the end of the file, -1 on error.
int64_t read_input(InputFile& file, void* buffer, size_t length);

// Reads up to `length` bytes at `offset`. Fewer bytes only at the end of the
// file; -1 on error. Not to be mixed with read_input on one file.
int64_t read_input_at(InputFile& file, void* buffer, size_t length, int64_t offset);

// A file being written under a temporary name beside its final name, so that
// no partial or corrupt file ever stands under the final name. Until
// committed, the destructor removes the temporary.
struct SafeOutput {
    SafeOutput() = default;
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;
    ~SafeOutput();
#ifdef _WIN32
    void* handle = nullptr;
#else
    int fd = -1;
    int directory_fd = -1;  // the directory the file goes into
    bool owns_directory = false;  // false when directory_fd is an OutputDirectory's
    std::string temp_name;  // within directory_fd; empty while anonymous
    std::string final_name;
    // Written as an unnamed file that gets its name only when complete.
    bool anonymous = false;
    const char* temp_prefix = "";
#endif
    std::string temp_path;  // the temporary's whole path
    std::string final_path;
};

// A directory that many files are written into, opened once so that each
// file costs no lookup of the directory's own path. Closed by its
// destructor; it must outlive every SafeOutput opened in it.
struct OutputDirectory {
    OutputDirectory() = default;
    OutputDirectory(const OutputDirectory&) = delete;
    OutputDirectory& operator=(const OutputDirectory&) = delete;
    ~OutputDirectory();
#ifndef _WIN32
    int fd = -1;
#endif
    std::string path;
    bool is_open = false;
};

// Opens `path` (links followed: it may be a link the user made). False when
// it is not a directory that can be opened.
bool open_output_directory(OutputDirectory& directory, const std::string& path);

// Creates a new, empty temporary file beside `directory`/`relative_name`,
// exclusively, its name beginning with `temp_prefix`. `relative_name` may
// hold subdirectories (either separator where the platform takes both);
// none is created, and none may be a symbolic link or junction: that, or a
// missing subdirectory, fails. A directory standing at the final name is
// found by safe_output_finish at the latest (where the platform has no
// cheaper way, already here). Fails when `directory` is not open.
bool safe_output_open_at(SafeOutput& output, OutputDirectory& directory,
                         const std::string& relative_name, const char* temp_prefix);

// The same for a directory given by path, opened for this one file.
// `directory` itself may be a link the user made.
bool safe_output_open(SafeOutput& output, const std::string& directory,
                      const std::string& relative_name, const char* temp_prefix);

bool safe_output_write(SafeOutput& output, const void* data, size_t length);

// Appends `length` bytes of `source` starting at `offset`, by the fastest
// means the platform has. False on a read or write error or an early end.
bool safe_output_copy_from(SafeOutput& output, InputFile& source, int64_t offset,
                           int64_t length);

enum class CommitResult { committed, directory_in_the_way, failed };

// Closes the temporary and renames it over the final name, replacing a file
// or a link that stands there (never writing through the link). On a close
// or rename error the temporary is removed; a directory standing at the
// final name is told apart, since to the user that is a file that could not
// be opened rather than a failed write.
CommitResult safe_output_finish(SafeOutput& output);

// safe_output_finish for callers to whom every failure is alike.
bool safe_output_commit(SafeOutput& output);

// Closes and removes the temporary. Harmless when nothing is open.
void safe_output_discard(SafeOutput& output);
