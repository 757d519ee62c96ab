#pragma once

// The little the two programs need from the operating system, under one
// signature per operation. platform-posix.cc and platform-win32.cc each
// implement all of it (CMake picks one); platform.cc holds what both share.
// Paths are held as path.h says.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/path.h"

// A result with its cause: `error` is the system's own code (errno, or
// GetLastError() on Windows) when `ok` is false, so a caller or a test can
// tell why something failed; the console texts never show it.
struct OsStatus {
    bool ok = false;
    int error = 0;
    explicit operator bool() const { return ok; }
};
inline OsStatus os_ok() { return OsStatus{true, 0}; }
inline OsStatus os_failure(int error) { return OsStatus{false, error}; }

// The program's arguments (its own name first) as paths in the form path.h
// describes: on Windows read from the UTF-16 command line, never through the
// code page.
std::vector<std::string> program_arguments(int argc, char** argv);

// Called first thing by each program: a write past a file-size limit or into
// a closed pipe then fails like any other write error, which the programs
// report, and an interrupt or hang-up removes the temporary being written
// before the program ends as the signal would have ended it.
void init_process();

// Whether the stream is a terminal (a console on Windows).
bool is_terminal(FILE* stream);

// A name as the console should show it: unchanged where paths are held in
// the console's own encoding; on Windows converted to the active code page,
// with its default character for what the code page cannot hold.
std::string name_for_console(std::string_view name);

// Turns an archive entry's stored name (bytes in the code page that made the
// archive, which on Windows is taken to be the active one) into a path as
// path.h describes. False when it does not convert exactly.
bool archive_name_to_path(std::string_view stored, std::string& path);

// Whether the file system drops dots and blanks from the end of a name when
// it stores it (Windows does), so names meant to differ would meet.
bool names_lose_trailing_dots_and_spaces();

enum class EntryKind : uint8_t { regular, directory, other };

// One entry of a DirListing; its name lies in the listing's buffer.
struct DirEntry {
    uint32_t name_offset;  // where its name starts in DirListing::names
    uint16_t name_size;
    EntryKind kind;        // what the entry leads to; a link is followed for this
    bool is_link;          // symbolic link, junction or other reparse point
};

// A directory's entries, kept compact for folders of hundreds of thousands
// of files: all the names in one buffer, eight bytes an entry beside it.
struct DirListing {
    std::string names;
    std::vector<DirEntry> entries;
};

// The name of a listed entry, without any directory part.
std::string_view entry_name(const DirListing& listing, const DirEntry& entry);

// Adds an entry to the listing. False when its name is longer than any
// file system stores, or the listing would outgrow its offsets (4 GiB of
// names).
bool add_listed_entry(DirListing& listing, std::string_view name, EntryKind kind, bool is_link);

// Puts the listing in listing_order.
void sort_listing(DirListing& listing);

enum class PathKind { missing, directory, other };

// What stands at `path`, links followed.
PathKind probe_path(const std::string& path);

// Makes one directory; fails when something already stands there.
OsStatus create_directory(const std::string& path);

// An open directory: work inside it goes through the handle, so a name
// higher up that is renamed or swapped for a link meanwhile cannot redirect
// it. Closed by its destructor.
struct DirectoryHandle {
    DirectoryHandle() = default;
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    ~DirectoryHandle();
    bool is_open() const;

#ifdef _WIN32
    void* handle = nullptr;
    std::wstring path;  // absolute, in the \\?\ form
#else
    int fd = -1;
#endif
};

// Opens the directory at `path`, which may be a link the user made.
OsStatus open_directory(DirectoryHandle& directory, const std::string& path);

// Opens the subdirectory `name` of `parent`, never through a link or a
// junction standing at that name, whatever a listing said before.
OsStatus open_subdirectory(DirectoryHandle& child, const DirectoryHandle& parent,
                           const std::string& name);

// Lists every entry of `directory`, "." and ".." left out, in listing_order.
// The listing is read whole before it returns.
OsStatus list_directory(const DirectoryHandle& directory, DirListing& listing);

// Case-insensitive order, ties broken by bytes, so a listing comes out the
// same on every run and every machine whatever the file system returns.
bool listing_order(std::string_view a, std::string_view b);

// A regular file open for reading, with its size as found when opened.
// Closed by its destructor.
struct InputFile {
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    int64_t size = -1;
    // Its permission bits where the platform has them (0666 elsewhere): a
    // copy made from it is given no more than these.
    unsigned permissions = 0666;
#ifdef _WIN32
    void* handle = nullptr;
#else
    int fd = -1;
#endif
};

// Opens a regular file, or a link to one. Anything else (a FIFO, socket or
// device) is refused without being opened in a way that could block.
OsStatus open_input_file(InputFile& file, const std::string& path);

// Opens the regular file `name` inside `directory`. A link at the name is
// followed only when `follow_link`; otherwise a link found there is refused,
// so a file swapped for a link after it was listed is never read.
OsStatus open_input_file_at(InputFile& file, const DirectoryHandle& directory,
                            const std::string& name, bool follow_link);

// Sequential read: bytes read, 0 at the end of the file, -1 on error.
int64_t read_input(InputFile& file, void* buffer, size_t length);

// Reads until `length` bytes have arrived or the file ends: a short count
// only at the end of the file, -1 on error.
int64_t read_input_fully(InputFile& file, void* buffer, size_t length);

// Reads up to `length` bytes at `offset`. Fewer bytes only at the end of the
// file; -1 on error. Not to be mixed with read_input on one file.
int64_t read_input_at(InputFile& file, void* buffer, size_t length, int64_t offset);

// Where the first stored data at or after `offset` starts: `offset` itself
// when data lies there or the system tells nothing of holes, later when a
// hole (a stretch never written, which reads as zeros and takes no space)
// lies at `offset`, and INT64_MAX when only a hole follows. Lets a reader
// skip what it knows to be zeros in a sparse file. May move the position
// read_input reads at, so, like read_input_at, not to be mixed with it.
int64_t next_data_at(InputFile& file, int64_t offset);

// A temporary file name that begins with `prefix` and that no run is likely
// to pick twice; creation is exclusive anyway, so a clash costs only a retry.
std::string temporary_name(const char* prefix);
