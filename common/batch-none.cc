// The batch where the system offers no queue (Windows, and builds without
// liburing): every file goes through the plain calls of batch.cc.

#include "common/batch_platform.h"

size_t batch_queue_write(OutputBatch& batch) {
    batch.queue_refused = true;
    return 0;
}

void batch_queue_release(OutputBatch& batch) { batch.queue = nullptr; }
