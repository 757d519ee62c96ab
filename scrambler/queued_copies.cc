#include "scrambler/queued_copies.h"

#include "common/platform.h"

bool queue_copy(QueuedCopies& queue, const std::string& name, const std::vector<unsigned char>& bytes) {
    if (!batch_add(queue.batch, "_o_" + name, reinterpret_cast<const char*>(bytes.data()), bytes.size()))
        return false;
    queue.names.push_back(name);
    return true;
}

bool write_queued_copies(QueuedCopies& queue, Console& console) {
    bool all_done = true;
    size_t next = 0;
    while (next < queue.names.size()) {
        // A run stops at its first failure; the copies after it are run
        // again from there.
        batch_run(queue.batch, next);
        const size_t from = next;
        for (; next < queue.names.size(); ++next) {
            const BatchResult result = queue.batch.results[next];
            if (result == BatchResult::not_attempted) break;
            console_print(console, "%s ...%s", name_for_console(queue.names[next]).c_str(),
                          result == BatchResult::written ? "done.\n" : "error.\n");
            if (result != BatchResult::written) all_done = false;
        }
        // A run always decides its first file; this only guards the loop.
        if (next == from) {
            console_print(console, "%s ...error.\n", name_for_console(queue.names[next]).c_str());
            all_done = false;
            ++next;
        }
    }
    queue.names.clear();
    batch_clear(queue.batch);
    return all_done;
}
