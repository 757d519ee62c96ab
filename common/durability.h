#pragma once

// Putting what a run wrote on disk: once, at the end of the run, rather
// than file by file. Each file is still written and named alone; the run
// notes which file systems it wrote into and flushes each of those once
// before it says how it ended, so that "successful." means the files and
// their names would outlive a power cut from then on.

#include <cstdint>
#include <string>
#include <vector>

#include "common/directory.h"
#include "common/status.h"

// The file systems a run has written into so far, each with a handle to
// flush it through. Closed by its destructor.
struct WrittenFileSystems {
    WrittenFileSystems() = default;
    WrittenFileSystems(const WrittenFileSystems&) = delete;
    WrittenFileSystems& operator=(const WrittenFileSystems&) = delete;
    ~WrittenFileSystems();

    struct Mark {
        uint64_t device = 0;
        int fd = -1;
    };
    std::vector<Mark> marks;
    // Something was written where no handle could be kept (the process
    // out of handles, say): the flush then covers every file system.
    bool unmarked = false;
};

// Notes that a file was just put under its name in `folder` inside
// `directory` ("" for `directory` itself, else a relative path ending in a
// separator). Costs one status call; a handle is kept only for a file
// system not seen before in the run.
void note_written(WrittenFileSystems& written, const DirectoryHandle& directory, const std::string& folder);

// Puts everything noted on disk, names included: one flush per file system.
// Failure::writing with the system's code when the file system reports that
// data could not be written. Where the platform cannot flush without a cost
// per file or the rights of an administrator (Windows), it does nothing.
Status flush_written(WrittenFileSystems& written);
