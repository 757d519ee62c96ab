#pragma once

#include <array>
#include <string>

#include "common/directory.h"
#include "common/input_file.h"
#include "common/status.h"

// The fixed key every scrambled copy is made with: 15 bytes, used over and
// over from its first byte for every file.
inline constexpr std::array<unsigned char, 15> ScrambleKey = {
    0x5A, 0xC3, 0x1E, 0x96, 0x07, 0xB4, 0x3D, 0xE8, 0x71, 0x0F, 0xA2, 0x4C, 0xD9, 0x66, 0x2B};

// What a scrambled copy's name begins with: the copy of "logo.bmp" is
// "_o_logo.bmp". A name that begins so, in any letter case, is a copy and
// never a source; the copies' temporaries begin so too, for that reason.
inline constexpr const char* kCopyPrefix = "_o_";

// Writes `destination_name` inside `directory` as the bytes of `source`,
// already open, byte i XOR ScrambleKey[i mod 15]: the walk opens each
// directory once for everything it reads and writes there. On a failure
// whatever stood under the name before is untouched and no partial copy is
// left; the status tells what failed.
Status scramble_into(InputFile& source, const DirectoryHandle& directory, const std::string& destination_name);

// The same between two paths: 0 when the whole copy stands under
// `destination`, -1 otherwise.
int scramble_file(const std::string& source, const std::string& destination);
