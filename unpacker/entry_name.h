#pragma once

// What an archive's entry names may be, and how they become paths here.
// Names come from whoever made the archive, so they are judged by the same
// rules on every platform and an archive unpacks the same everywhere, save
// for characters a platform cannot store in a name at all.

#include <string>
#include <string_view>

// True for a name that could reach outside the output directory, name a
// device, or name on some platform a file other than the one it spells:
// absolute ('/' or '\' first), holding ':' (a drive or a stream), a ".."
// component, a control character (below 0x20, 0x7F, or U+0080 to U+009F
// as UTF-8, which is what a Windows name in any code page has become
// here), a form shaped as a UTF-8 character that is none (overlong, a
// surrogate, beyond U+10FFFF: a lenient reader takes "\xE0\x82\x9B" for
// CSI, "\xC0\xAF" for '/'), a component that is a device name (CON, NUL,
// COM1, lpt2.txt...), or a component other than "." that ends in a dot or
// a blank, which Windows drops ("a." and "a " are "a" there). A lone byte
// 0x80 to 0xFF, from some other code page, is none of these. Where the file system refuses further characters in a name
// (Windows: <>"|?*), a name holding one is unsafe there as well, and only
// there. '/' and '\' both separate components. The empty name, and
// "." as a whole, are not unsafe; they simply cannot be opened as files.
bool is_unsafe_entry_name(std::string_view name);

// The path below the output directory that the entry's stored name stands
// for: converted from the archive's code page where the platform needs it,
// judged by is_unsafe_entry_name, and with both separators turned into this
// platform's. False when the name is unsafe or does not convert.
bool entry_name_to_path(std::string_view stored_name, std::string& path);
