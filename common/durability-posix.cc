#include "common/durability.h"

#include <unistd.h>

#include <cerrno>

#include "common/test_hooks.h"

WrittenFileSystems::~WrittenFileSystems() = default;

// Without a call that flushes one file system, the whole system is flushed
// once at the end: any write is enough to ask for that.
void note_written(WrittenFileSystems& written, const DirectoryHandle& /*directory*/, const std::string& /*folder*/) {
    written.unmarked = true;
}

// sync() reports nothing, so only a test's hook makes this fail.
Status flush_written(WrittenFileSystems& written) {
    if (written.unmarked) sync();
    return flush_fails_for_test ? failed(Failure::writing, EIO) : kSucceeded;
}
