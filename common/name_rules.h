#pragma once

// What file systems refuse or change in a name, known before the system is
// asked: so that an archive's entry names are judged before anything is
// written, the unpacker's folder is named as it will be stored, and a name
// is refused when its file is opened rather than at its last rename.

#include <string_view>

// The printable characters Windows refuses in every name, on every file
// system, beside the control characters.
inline constexpr std::string_view kCharactersWindowsRefuses = "<>:\"|?*";

// Whether the file system drops dots and blanks from the end of a name when
// it stores it (Windows does), so names meant to differ would meet.
bool names_lose_trailing_dots_and_spaces();

// The printable characters this platform's file system refuses in a name:
// kCharactersWindowsRefuses on Windows, none elsewhere. An archive entry
// holding one is refused with the other unsafe names, before anything is
// written.
std::string_view characters_names_cannot_hold();
