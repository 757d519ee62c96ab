#include "unpacker/queued_entries.h"

#include <utility>

bool queue_entry(QueuedEntries& queue, const std::string& path, const char* bytes, size_t size,
                 std::string line) {
    if (!batch_add(queue.batch, path, bytes, size)) return false;
    queue.lines.push_back(std::move(line));
    return true;
}

ExtractResult write_queued_entries(QueuedEntries& queue, Console& console) {
    if (queue.lines.empty()) return ExtractResult::written;
    batch_run(queue.batch);
    ExtractResult outcome = ExtractResult::written;
    for (size_t i = 0; i < queue.lines.size(); ++i) {
        const BatchResult result = queue.batch.results[i];
        if (result == BatchResult::not_attempted) break;
        console_print(console, "%s", queue.lines[i].c_str());
        if (result == BatchResult::written) {
            console_print(console, "done.\n");
            continue;
        }
        outcome = result == BatchResult::open_failed ? ExtractResult::open_failed : ExtractResult::write_failed;
        break;
    }
    queue.lines.clear();
    return outcome;
}
