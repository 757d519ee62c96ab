#pragma once

#include <string>
#include <vector>

#include "common/batch.h"
#include "common/console.h"

// Copies of small sources waiting to be written together: the copies in a
// batch, and each source's console name, printed only once its copy's
// result is known.
struct QueuedCopies {
    OutputBatch batch;
    std::vector<std::string> names;
    std::vector<unsigned char> scratch;  // a source's bytes on their way into the batch
};

// Queues the scrambled `bytes` of the source `name` as its copy.
// False when the queue is full: write what waits first, then queue again.
bool queue_copy(QueuedCopies& queue, const std::string& name, const std::vector<unsigned char>& bytes);

// Writes what waits, in order, printing each source's line with "done." or
// "error." as the walk one file at a time would; a copy that fails does not
// keep the later ones from being written. False when any failed.
bool write_queued_copies(QueuedCopies& queue, Console& console);
