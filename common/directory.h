#pragma once

// Directories: what stands at a path, making one, and open handles through
// which all work inside a directory goes. Paths are held as path.h says;
// failures come back as status.h says (Failure::directory for a directory
// that cannot be opened, Failure::creating for one that cannot be made,
// Failure::reading for a listing that cannot be read).

#include <cstdint>
#include <string>

#include "common/listing.h"
#include "common/path.h"
#include "common/status.h"

enum class PathKind { missing, directory, other };

// What stands at `path`, links followed.
PathKind probe_path(const std::string& path);

// Makes one directory; fails when something already stands there.
Status create_directory(const std::string& path);

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
    // Which opening of a directory this is, never the same for two: the
    // safe output keeps what a folder showed by it, which a descriptor
    // number reused after a close could not tell apart. 0 while closed.
    uint64_t opening = 0;
#endif
};

// Opens the directory at `path`, which may be a link the user made.
Status open_directory(DirectoryHandle& directory, const std::string& path);

// Opens the directory at `path`, a name the program made up itself (the
// unpacker's output folder): links in the folders above, which the user
// typed, are followed, but a link or junction standing at the last
// component is refused, since whoever put it there chose where the output
// would go.
Status open_derived_directory(DirectoryHandle& directory, const std::string& path);

// Opens the subdirectory `name` of `parent`, never through a link or a
// junction standing at that name, whatever a listing said before.
Status open_subdirectory(DirectoryHandle& child, const DirectoryHandle& parent, const std::string& name);

// Lists every entry of `directory`, "." and ".." left out, in listing_order.
// The listing is read whole before it returns.
Status list_directory(const DirectoryHandle& directory, DirListing& listing);
