#pragma once

// Paths as both programs hold them: byte strings whose components are
// joined by the platform's separator ('/' on POSIX; on Windows '\', with '/'
// taken as well). On Windows the bytes are UTF-8, converted exactly to and
// from UTF-16 where they meet the system (wide_path-win32.cc), so no byte of
// a character is ever taken for a separator and no split needs to know the
// code page. Every split or join of a path in the programs goes through here;
// the separators are path-posix.cc's and path-win32.cc's.

#include <string>
#include <string_view>
#include <vector>

// The separator this platform puts between components it joins.
char path_separator();

// True for every byte that separates components on this platform.
bool is_path_separator(char c);

bool ends_in_separator(std::string_view path);

// A path cut after its last separator: `directory` keeps that separator and
// is empty when there is none; `name` is the rest, empty when the path ends
// in a separator.
struct PathParts {
    std::string_view directory;
    std::string_view name;
};
PathParts split_path(std::string_view path);

// The components between separators, empty ones (from doubled or trailing
// separators) left out.
std::vector<std::string_view> path_components(std::string_view path);
