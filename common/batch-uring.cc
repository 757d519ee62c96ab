// The batch through io_uring (liburing). The kernel's workers open and fill
// the files, many per call, while this thread names them one by one in
// order: the files go through a slice at a time, and naming one slice, the
// one step that must keep its order, overlaps the opening and writing of
// the next ones. Anything the queue does not do is left to the plain calls
// of batch.cc, which judge it as they would a lone file.

#include <fcntl.h>
#include <liburing.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <vector>

#include "common/batch_platform.h"
#include "common/safe_output_platform.h"

namespace {

// Files per slice. A step queues at most three slices' operations, so the
// queue always has room.
constexpr size_t kSlice = 32;
constexpr unsigned kQueueEntries = 128;
static_assert(3 * kSlice <= kQueueEntries);

// The ring, owned by the batch through its `queue` pointer.
struct Queue {
    io_uring ring{};
};

// Completions are best taken only when this thread asks for them, which
// spares the workers waking it for each one; kernels before 6.1 have no
// such mode and get the plain ring.
bool init_ring(io_uring& ring) {
    if (io_uring_queue_init(kQueueEntries, &ring, IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN) == 0)
        return true;
    return io_uring_queue_init(kQueueEntries, &ring, 0) == 0;
}

// Sets up the ring at the first run. The kernel may refuse (too old, a
// seccomp profile, io_uring_disabled) or lack an operation the batch needs;
// then the batch keeps to plain calls.
io_uring* queue_of(OutputBatch& batch) {
    if (batch.queue != nullptr) return &static_cast<Queue*>(batch.queue)->ring;
    auto* queue = new (std::nothrow) Queue;
    if (queue == nullptr || !init_ring(queue->ring)) {
        delete queue;
        batch.queue_refused = true;
        return nullptr;
    }
    io_uring_probe* probe = io_uring_get_probe_ring(&queue->ring);
    bool usable = probe != nullptr;
    for (const int operation : {IORING_OP_OPENAT, IORING_OP_WRITE, IORING_OP_CLOSE})
        usable = usable && io_uring_opcode_supported(probe, operation) != 0;
    if (probe != nullptr) io_uring_free_probe(probe);
    if (!usable) {
        io_uring_queue_exit(&queue->ring);
        delete queue;
        batch.queue_refused = true;
        return nullptr;
    }
    batch.queue = queue;
    return &queue->ring;
}

enum Stage : uint64_t { kOpen, kWrite, kClose };

// One pass of the queue over the files at the front of a batch.
struct QueueRun {
    OutputBatch& batch;
    io_uring& ring;
    int directory_fd;
    size_t count;                // files the queue takes, from the first
    std::vector<int> fds;        // each file's unnamed file while the run holds it open
    std::vector<int> closes;     // each file's close result; 0 until then
    size_t limit;                // the first file that failed at any stage, or `count`
    size_t named = 0;            // files from the first that have their names
    unsigned in_flight = 0;
};

size_t slice_begin(const QueueRun& run, size_t slice) { return std::min(slice * kSlice, run.count); }
size_t slice_end(const QueueRun& run, size_t slice) { return std::min(slice * kSlice + kSlice, run.count); }

// The queue's next free entry, marked with its stage and file.
io_uring_sqe* next_entry(QueueRun& run, Stage stage, size_t file) {
    io_uring_sqe* entry = io_uring_get_sqe(&run.ring);
    io_uring_sqe_set_data64(entry, (static_cast<uint64_t>(stage) << 32) | file);
    ++run.in_flight;
    return entry;
}

// Queues one step's work: slice `step` is opened, the slice before it
// written, and the slice named in the step before closed, named or not (one
// that was not named just goes away).
void prepare_step(QueueRun& run, size_t step, size_t slices) {
    if (step < slices)
        for (size_t i = slice_begin(run, step); i < slice_end(run, step) && i < run.limit; ++i)
            io_uring_prep_openat(next_entry(run, kOpen, i), run.directory_fd, ".",
                                 O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (step >= 1)
        for (size_t i = slice_begin(run, step - 1); i < slice_end(run, step - 1) && i < run.limit; ++i) {
            const BatchedFile& file = run.batch.files[i];
            io_uring_prep_write(next_entry(run, kWrite, i), run.fds[i], run.batch.bytes.data() + file.offset,
                                static_cast<unsigned>(file.size), 0);
        }
    if (step >= 3)
        for (size_t i = slice_begin(run, step - 3); i < slice_end(run, step - 3); ++i)
            if (run.fds[i] >= 0) {
                io_uring_prep_close(next_entry(run, kClose, i), run.fds[i]);
                run.fds[i] = -1;
            }
}

// Hands the queued entries to the kernel. False when the queue itself
// failed or took none (short of resources, say): the run is then given up
// rather than tried again and again.
bool submit(QueueRun& run) {
    while (io_uring_sq_ready(&run.ring) > 0) {
        const int submitted = io_uring_submit(&run.ring);
        if (submitted == -EINTR) continue;
        if (submitted <= 0) return false;
    }
    return true;
}

// Takes one result: a file that could not be opened, or whose bytes were
// not all written (a short write too), is where the queue stops.
void take(QueueRun& run, const io_uring_cqe& completion) {
    const uint64_t data = io_uring_cqe_get_data64(&completion);
    const auto file = static_cast<size_t>(data & 0xffffffffU);
    const int result = completion.res;
    switch (static_cast<Stage>(data >> 32)) {
        case kOpen:
            if (result >= 0) run.fds[file] = result;
            else run.limit = std::min(run.limit, file);
            break;
        case kWrite:
            if (result < 0 || static_cast<size_t>(result) != run.batch.files[file].size)
                run.limit = std::min(run.limit, file);
            break;
        case kClose: run.closes[file] = result; break;
    }
}

// Waits for every result of the step. False when the queue itself failed,
// which leaves no way to know what was done.
bool collect(QueueRun& run) {
    while (run.in_flight > 0) {
        io_uring_cqe* first = nullptr;
        int waited = 0;
        do waited = io_uring_wait_cqe_nr(&run.ring, &first, run.in_flight);
        while (waited == -EINTR);
        if (waited < 0) return false;
        unsigned head = 0;
        unsigned seen = 0;
        io_uring_cqe* completion = nullptr;
        io_uring_for_each_cqe(&run.ring, head, completion) {
            take(run, *completion);
            ++seen;
        }
        io_uring_cq_advance(&run.ring, seen);
        run.in_flight -= std::min(seen, run.in_flight);
    }
    return true;
}

// Names the files of `slice` in order, stopping at the first that fails
// (something already there, say) so that nothing after it is ever named.
// Naming is done here, one call each, rather than queued: the kernel does
// not end a chain of linked operations at a failed link.
void name_slice(QueueRun& run, size_t slice) {
    for (size_t i = slice_begin(run, slice); i < slice_end(run, slice) && i < run.limit; ++i) {
        if (safe_output_name_unnamed_file(run.fds[i], run.directory_fd, run.batch.files[i].name) != 0) {
            run.limit = i;
            return;
        }
        run.named = i + 1;
    }
}

// Gives up the queue for good after it failed in the middle of a run. What
// its operations in flight became is unknown, so they are left alone; the
// files named so far are taken back (nothing stood at their names before),
// the unnamed ones closed, and the plain calls do every file again.
size_t abandon(QueueRun& run) {
    for (size_t i = 0; i < run.named; ++i) unlinkat(run.directory_fd, run.batch.files[i].name.c_str(), 0);
    for (const int fd : run.fds)
        if (fd >= 0) close(fd);
    batch_queue_release(run.batch);
    run.batch.queue_refused = true;
    return 0;
}

bool directly_inside(const std::string& name) {
    return path_components(name).size() == 1 && !ends_in_separator(name);
}

}  // namespace

size_t batch_queue_write(OutputBatch& batch) {
    // Named temporaries would need the interrupt's clean-up for each one in
    // flight: those outputs go one at a time.
    if (!safe_output_takes_unnamed_files()) return 0;
    // Only files directly inside the directory: the first with
    // subdirectories, and all after it, go one at a time.
    size_t count = 0;
    while (count < batch.files.size() && directly_inside(batch.files[count].name)) ++count;
    if (count == 0) return 0;
    io_uring* ring = queue_of(batch);
    if (ring == nullptr) return 0;

    QueueRun run{batch, *ring, batch.directory->fd, count, std::vector<int>(count, -1),
                 std::vector<int>(count, 0), count};
    const size_t slices = (count + kSlice - 1) / kSlice;
    // Slice s is opened in step s, written in step s + 1, named in step
    // s + 2 while the queue works on later slices, and closed in step s + 3.
    for (size_t step = 0; step < slices + 3; ++step) {
        prepare_step(run, step, slices);
        if (!submit(run)) return abandon(run);
        if (step >= 2) name_slice(run, step - 2);
        if (!collect(run)) return abandon(run);
    }
    // A file whose close failed may not be whole: it and every later one
    // are taken back; nothing stood at their names before, so nothing is lost.
    size_t kept = 0;
    while (kept < run.named && run.closes[kept] == 0) ++kept;
    for (size_t i = kept; i < run.named; ++i) unlinkat(run.directory_fd, batch.files[i].name.c_str(), 0);
    for (size_t i = 0; i < kept; ++i) batch.results[i] = BatchResult::written;
    return kept;
}

void batch_queue_release(OutputBatch& batch) {
    auto* queue = static_cast<Queue*>(batch.queue);
    if (queue == nullptr) return;
    io_uring_queue_exit(&queue->ring);
    delete queue;
    batch.queue = nullptr;
}
