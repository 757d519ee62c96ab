#pragma once

#include <string_view>

// Whether Windows opens a device rather than a file for this name (a name
// without any directory part), in any directory: CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9, and COM or LPT with a superscript
// one to three, in any letter case, whatever extension follows and whatever
// blanks trail the stem. Such a name is never read or written, on any
// platform.
bool is_device_name(std::string_view name);
