#pragma once

// What the portable part of the batch (batch.cc) asks of the system's
// queue: batch-uring.cc where liburing was found, batch-none.cc elsewhere.
// Not for callers.

#include "common/batch.h"

// Writes the batch's files in order through the system's queue, setting up
// the queue at the first call. Returns how many files, from the first, it
// put in place and marked written; the rest are untouched, with nothing of
// them left behind, for the plain calls to do. Returns 0 (and sets
// queue_refused) when the system has no queue to offer.
size_t batch_queue_write(OutputBatch& batch);

// Tears the queue down, if one was set up.
void batch_queue_release(OutputBatch& batch);
