#pragma once

#include <string>
#include <string_view>

// The directory an archive unpacks into: its path with the extension of the
// last component taken off, so C:\games\data.pak gives C:\games\data and
// set.old.pak gives set.old. The path splits into drive ("X:"), directory
// (up to the last '\' or '/'), base name (up to its last '.') and extension;
// the first three are joined. The base name is cut only where the file
// system could not store it (255 bytes on POSIX, 255 UTF-16 units with
// `windows_names`), never inside a UTF-8 character; the directory is kept
// whole, since a cut one would lead somewhere else. With `windows_names` the
// last component is read as Windows opens it, without trailing dots and
// blanks ("a.pak." is "a.pak", giving "a"), and the base name loses them too,
// so the directory made and the files written agree.
// A base name that would be empty or only dots (".pak", "..pak") keeps the
// whole last component instead, and so does one that the cut or the trim
// leaves empty or only dots, so the result is the archive's own path and can
// never be the parent directory, the archive's folder or the root by accident.
std::string derive_output_directory(std::string_view archive_path, bool windows_names);
