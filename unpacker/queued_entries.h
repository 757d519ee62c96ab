#pragma once

#include <string>
#include <vector>

#include "common/batch.h"
#include "common/console.h"
#include "unpacker/extract_entry.h"

// Small entries waiting to be written together: their files in a batch, and
// each one's console line, printed only once its result is known.
struct QueuedEntries {
    OutputBatch batch;
    std::vector<std::string> lines;
};

// Queues a small entry's bytes for `path` with the line that announces it.
// False when the queue is full: write what waits first, then queue again.
bool queue_entry(QueuedEntries& queue, const std::string& path, const char* bytes, size_t size,
                 std::string line);

// Writes what waits, in order, printing each entry's line and "done." as a
// run one entry at a time would. At the first failure it prints that
// entry's line and returns its result; no later entry is put in place or
// printed. `written` when all were.
ExtractResult write_queued_entries(QueuedEntries& queue, Console& console);
