#include "unpacker/extract_entry.h"

#include <string_view>

#include "unpacker/entry_name.h"

namespace {

// Temporaries begin with this, so one left behind by a crash is recognisable.
constexpr const char* kTempPrefix = ".unpacker-";

}  // namespace

ExtractResult extract_entry(InputFile& archive, const PakEntry& entry,
                            const std::string& output_directory) {
    std::string path = entry_name_to_path(std::string_view(entry.name));
    // An empty name, or one ending in a separator, names a directory rather
    // than a file.
    if (path.empty() || is_path_separator(path.back())) return ExtractResult::open_failed;

    SafeOutput output;
    if (!safe_output_open(output, output_directory, path, kTempPrefix)) return ExtractResult::open_failed;
    if (entry.size > 0 && !safe_output_copy_from(output, archive, entry.offset, entry.size)) {
        safe_output_discard(output);
        return ExtractResult::write_failed;
    }
    if (!safe_output_commit(output)) return ExtractResult::write_failed;
    return ExtractResult::written;
}
