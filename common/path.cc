#include "common/path.h"

bool ends_in_separator(std::string_view path) { return !path.empty() && is_path_separator(path.back()); }

PathParts split_path(std::string_view path) {
    size_t cut = path.size();
    while (cut > 0 && !is_path_separator(path[cut - 1])) --cut;
    return PathParts{path.substr(0, cut), path.substr(cut)};
}

std::vector<std::string_view> path_components(std::string_view path) {
    std::vector<std::string_view> components;
    size_t start = 0;
    for (size_t at = 0; at <= path.size(); ++at) {
        if (at == path.size() || is_path_separator(path[at])) {
            if (at > start) components.push_back(path.substr(start, at - start));
            start = at + 1;
        }
    }
    return components;
}
