// The batch through io_uring (liburing): the opening, the writing and the
// closing of every file in the batch each go to the kernel in one call,
// instead of one call per file and stage; the names are given one by one. Anything the
// queue does not do plainly is left to the plain calls of batch.cc, which
// judge it as they would a lone file.

#include <fcntl.h>
#include <liburing.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <vector>

#include "common/batch_platform.h"
#include "common/safe_output_platform.h"

namespace {

// The ring, owned by the batch through its `queue` pointer.
struct Queue {
    io_uring ring{};
};

// Sets up the ring at the first run. The kernel may refuse (too old, a
// seccomp profile, io_uring_disabled) or lack an operation the batch needs;
// then the batch keeps to plain calls.
io_uring* queue_of(OutputBatch& batch) {
    if (batch.queue != nullptr) return &static_cast<Queue*>(batch.queue)->ring;
    auto* queue = new (std::nothrow) Queue;
    if (queue == nullptr || io_uring_queue_init(kBatchFiles, &queue->ring, 0) < 0) {
        delete queue;
        batch.queue_refused = true;
        return nullptr;
    }
    io_uring_probe* probe = io_uring_get_probe_ring(&queue->ring);
    bool usable = probe != nullptr;
    for (const int operation : {IORING_OP_OPENAT, IORING_OP_WRITE, IORING_OP_LINKAT, IORING_OP_CLOSE})
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

// Sends the prepared operations and takes exactly `count` results, each
// into `results` at its operation's index. False when the queue itself
// failed, which leaves no way to know what was done.
bool submit_and_collect(io_uring& ring, unsigned count, std::vector<int>& results) {
    int submitted = 0;
    do submitted = io_uring_submit_and_wait(&ring, count);
    while (submitted == -EINTR);
    if (submitted < 0) return false;
    for (unsigned taken = 0; taken < count; ++taken) {
        io_uring_cqe* completion = nullptr;
        int waited = 0;
        do waited = io_uring_wait_cqe(&ring, &completion);
        while (waited == -EINTR);
        if (waited < 0) return false;
        results[static_cast<size_t>(completion->user_data)] = completion->res;
        io_uring_cqe_seen(&ring, completion);
    }
    return true;
}

// The index of the first result that is not `expected(i)`, or `count`.
template <typename Expected>
size_t first_unexpected(const std::vector<int>& results, size_t count, Expected expected) {
    for (size_t i = 0; i < count; ++i)
        if (!expected(i, results[i])) return i;
    return count;
}

// Gives up the queue for good after it failed in the middle of a run: what
// the files it held had become is unknown, so the unnamed ones are closed
// and the plain calls do all of them again.
size_t abandon(OutputBatch& batch, std::vector<int>& fds) {
    for (const int fd : fds)
        if (fd >= 0) close(fd);
    batch_queue_release(batch);
    batch.queue_refused = true;
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
    const int directory_fd = batch.directory->fd;
    const auto ops = [](size_t n) { return static_cast<unsigned>(n); };
    std::vector<int> results(count, 0);
    std::vector<int> fds(count, -1);

    // An unnamed file for each.
    for (size_t i = 0; i < count; ++i) {
        io_uring_sqe* entry = io_uring_get_sqe(ring);
        io_uring_prep_openat(entry, directory_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        io_uring_sqe_set_data64(entry, i);
    }
    if (!submit_and_collect(*ring, ops(count), results)) return abandon(batch, fds);
    for (size_t i = 0; i < count; ++i) fds[i] = results[i] >= 0 ? results[i] : -1;
    size_t good = first_unexpected(results, count, [](size_t, int r) { return r >= 0; });

    // Its bytes, whole: a short write is left to the plain calls.
    for (size_t i = 0; i < good; ++i) {
        const BatchedFile& file = batch.files[i];
        io_uring_sqe* entry = io_uring_get_sqe(ring);
        io_uring_prep_write(entry, fds[i], batch.bytes.data() + file.offset,
                            static_cast<unsigned>(file.size), 0);
        io_uring_sqe_set_data64(entry, i);
    }
    if (good > 0 && !submit_and_collect(*ring, ops(good), results)) return abandon(batch, fds);
    good = first_unexpected(results, good, [&](size_t i, int r) {
        return r >= 0 && static_cast<size_t>(r) == batch.files[i].size;
    });

    // Its name, one call each and in order, so nothing after the first
    // that fails (something already there, say) is ever named. A chain of
    // linked operations would not do: the kernel does not end a chain at a
    // failed link.
    size_t named = 0;
    while (named < good && safe_output_name_unnamed_file(fds[named], directory_fd, batch.files[named].name) == 0)
        ++named;

    // Every unnamed file closed, named or not; one that was not named just
    // goes away.
    size_t open = 0;
    for (size_t i = 0; i < count; ++i) {
        if (fds[i] < 0) continue;
        io_uring_sqe* entry = io_uring_get_sqe(ring);
        io_uring_prep_close(entry, fds[i]);
        io_uring_sqe_set_data64(entry, i);
        ++open;
    }
    std::fill(results.begin(), results.end(), 0);
    if (!submit_and_collect(*ring, ops(open), results)) {
        fds.assign(count, -1);
        return abandon(batch, fds);
    }
    // A file whose close failed may not be whole: it and every later one
    // are taken back; nothing stood at their names before, so nothing is lost.
    const size_t closed = first_unexpected(results, named, [](size_t, int r) { return r == 0; });
    for (size_t i = closed; i < named; ++i) unlinkat(directory_fd, batch.files[i].name.c_str(), 0);
    named = closed;
    for (size_t i = 0; i < named; ++i) batch.results[i] = BatchResult::written;
    return named;
}

void batch_queue_release(OutputBatch& batch) {
    auto* queue = static_cast<Queue*>(batch.queue);
    if (queue == nullptr) return;
    io_uring_queue_exit(&queue->ring);
    delete queue;
    batch.queue = nullptr;
}
