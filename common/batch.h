#pragma once

// Many small files written at once: each is written whole where no one can
// see it and put at its name only when complete, with every promise of the
// safe output (safe_output.h), but the system is asked for many files per
// call where it can be (io_uring on Linux) instead of a few calls per file.
// Files are put in place in the order they were added, and none after the
// first failure ever is. Where the system cannot batch, or refuses at run
// time, the files are written one at a time by the safe output.

#include <cstddef>
#include <string>
#include <vector>

#include "common/platform.h"

enum class BatchResult { written, open_failed, write_failed, not_attempted };

struct BatchedFile {
    size_t offset;  // of its bytes in OutputBatch::bytes
    size_t size;
    std::string name;
};

// At most this many files, and this many bytes, wait in one batch.
inline constexpr size_t kBatchFiles = 256;
inline constexpr size_t kBatchBytes = size_t{1} << 20;

struct OutputBatch {
    OutputBatch() = default;
    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;
    // Releases the system's queue; files not yet run are never written.
    ~OutputBatch();

    const DirectoryHandle* directory = nullptr;
    const char* temp_prefix = "";
    std::vector<char> bytes;          // room for the waiting files' bytes, one after another
    std::vector<BatchedFile> files;   // in the order they were added
    std::vector<BatchResult> results; // one per file after batch_run
    void* queue = nullptr;            // the system's queue, set up at the first run
    bool queue_refused = false;       // the system refused one: plain calls from then on
};

// Starts an empty batch of files for `directory`, which must stay open while
// the batch lives. A temporary that needs a name begins with `temp_prefix`.
void batch_start(OutputBatch& batch, const DirectoryHandle& directory, const char* temp_prefix);

// Adds a file of `size` bytes (copied now) to be put at `name`, which may
// hold subdirectories as safe_output_open allows. False, with nothing added,
// when the batch has no room left for it: run the batch first.
bool batch_add(OutputBatch& batch, const std::string& name, const char* data, size_t size);

// Writes every waiting file and puts them in place in order, stopping at the
// first failure: `results` then tells each file's fate, `not_attempted` for
// those after the failure. The batch is empty again afterwards.
void batch_run(OutputBatch& batch);

// For tests: makes every later run write its files one at a time, as where
// the system has no batching.
void batch_use_plain_calls(bool plain);
