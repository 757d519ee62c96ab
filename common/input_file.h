#pragma once

// Files the programs read: the scrambler's sources and the unpacker's
// archive. Only regular files are ever opened; a failure to open one is
// Failure::reading (status.h).

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/directory.h"
#include "common/status.h"

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
    // Its owning group where the platform has one (-1 elsewhere): a copy
    // made from it takes this group, or else gives its own group no more
    // than others have.
    int64_t group = -1;
    // Its owner where the platform has one as a number (-1 elsewhere): a
    // copy replaces an old copy as that copy was only for the same owner.
    int64_t owner = -1;
#ifdef _WIN32
    void* handle = nullptr;
#else
    int fd = -1;
#endif
};

// Opens a regular file, or a link to one. Anything else (a FIFO, socket or
// device) is refused before it is opened for reading, so the open can
// neither block nor have an effect; where the system allows (Linux) it is
// never opened for reading at all, even if it was swapped in an instant ago.
Status open_input_file(InputFile& file, const std::string& path);

// Opens the regular file `name` inside `directory`. A link at the name is
// followed only when `follow_link`, and then as open_input_file does;
// otherwise a link found there is refused, so a file swapped for a link
// after it was listed is never read, and anything else but a regular file
// is refused by its handle before a byte is read, the open never blocking.
Status open_input_file_at(InputFile& file, const DirectoryHandle& directory, const std::string& name,
                          bool follow_link);

// Sequential read: bytes read, 0 at the end of the file, -1 on error (with
// the system's code where last_failure finds it).
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
