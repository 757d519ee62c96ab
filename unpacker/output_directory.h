#pragma once

#include <string>
#include <string_view>

// Tells whether a byte starts a double-byte character; the real program
// passes the active code page's rule, tests pass one with lead bytes.
using LeadByteTest = bool (*)(unsigned char byte);

// The directory an archive unpacks into: its path with the extension of the
// last component taken off, so C:\games\data.pak gives C:\games\data and
// set.old.pak gives set.old. The path splits into drive ("X:"), directory
// (up to the last '\' or '/'), base name (up to its last '.') and extension;
// the first three are joined. A lead byte and the byte after it are one
// character, never taken as '\', '/' or '.'. The base name is cut to at
// most 255 bytes, never between a lead byte and its partner; the directory
// is kept whole, since a cut one would lead somewhere else.
// A base name that would be empty or only dots (".pak", "..pak") keeps the
// whole last component instead, and so does a base name that the cut leaves
// as only dots, so the result is the archive's own path and can never be the
// parent directory, the archive's folder or the root by accident.
std::string derive_output_directory(std::string_view archive_path, LeadByteTest is_lead);
