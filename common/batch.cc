// The portable part of the batch: collecting the files, and writing them one
// at a time through the safe output where the system's queue cannot.

#include "common/batch.h"

#include <cstring>

#include "common/batch_platform.h"
#include "common/safe_output.h"

namespace {

bool g_plain_calls_only = false;

// One file through the safe output, as it would be written on its own.
BatchResult write_plainly(OutputBatch& batch, const BatchedFile& file) {
    SafeOutput output;
    if (!safe_output_open(output, *batch.directory, file.name, batch.temp_prefix))
        return BatchResult::open_failed;
    if (!safe_output_write(output, batch.bytes.data() + file.offset, file.size))
        return BatchResult::write_failed;
    switch (safe_output_commit(output)) {
        case CommitResult::committed: return BatchResult::written;
        // A directory or a file the user may not write at the name is, to
        // the user, a file that could not be opened.
        case CommitResult::cannot_replace: return BatchResult::open_failed;
        case CommitResult::failed: break;
    }
    return BatchResult::write_failed;
}

}  // namespace

OutputBatch::~OutputBatch() { batch_queue_release(*this); }

void batch_start(OutputBatch& batch, const DirectoryHandle& directory, const char* temp_prefix) {
    batch.directory = &directory;
    batch.temp_prefix = temp_prefix;
    batch.files.clear();
    batch.results.clear();
}

bool batch_add(OutputBatch& batch, const std::string& name, const char* data, size_t size) {
    const size_t used = batch.files.empty() ? 0 : batch.files.back().offset + batch.files.back().size;
    if (batch.files.size() >= kBatchFiles || used + size > kBatchBytes) return false;
    // Sized once: no file's room is cleared again before its bytes are copied in.
    if (batch.bytes.size() < kBatchBytes) batch.bytes.resize(kBatchBytes);
    if (size > 0) std::memcpy(batch.bytes.data() + used, data, size);
    batch.files.push_back(BatchedFile{used, size, name});
    return true;
}

void batch_run(OutputBatch& batch) {
    batch.results.assign(batch.files.size(), BatchResult::not_attempted);
    size_t done = 0;
    if (!g_plain_calls_only && !batch.queue_refused && batch.directory != nullptr)
        done = batch_queue_write(batch);
    // What the queue left (all of it, without one) goes one file at a time,
    // which also judges a failure the queue met exactly as a lone file would.
    for (size_t i = done; i < batch.files.size(); ++i) {
        batch.results[i] = write_plainly(batch, batch.files[i]);
        if (batch.results[i] != BatchResult::written) break;
    }
    batch.files.clear();
}

void batch_use_plain_calls(bool plain) { g_plain_calls_only = plain; }
