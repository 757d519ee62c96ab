#include "common/durability.h"

#include "common/test_hooks.h"

WrittenFileSystems::~WrittenFileSystems() = default;

// Nothing to note: see flush_written.
void note_written(WrittenFileSystems& /*written*/, const DirectoryHandle& /*directory*/,
                  const std::string& /*folder*/) {}

// Windows flushes a volume only for an administrator, and a file only at
// the cost of waiting for each file's write-back, many times a run's time
// on small files. The files stand whole under their names and Windows
// writes them out shortly after; README.md says what that means.
Status flush_written(WrittenFileSystems& /*written*/) {
    return flush_fails_for_test ? failed(Failure::writing, 29) : kSucceeded;
}
