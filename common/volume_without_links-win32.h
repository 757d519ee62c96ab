#pragma once

// The Windows safe output's path for volumes without hard links (FAT and
// exFAT, on systems that cannot take the delete-on-close mark off a file
// created with it): the finished file cannot take its name as a link, and
// its mark cannot come off for a rename, so its bytes are copied once into
// a temporary marked just after creation, whose mark can come off. What
// such a volume can do is learnt at its first file and kept here for the
// run, by volume: a USB stick met once changes nothing for the files of
// any other volume, and later files on the stick are made markable from
// the start.

#include <windows.h>

#include "common/safe_output_state-win32.h"
#include "common/status.h"

// Whether temporaries in the open directory `directory` are to be created
// unmarked and marked just after: its volume was seen to take neither a
// hard link nor the taking off of the mark.
bool marks_after_creation(HANDLE directory);

// Puts the bytes written so far into a new temporary beside the final name,
// marked after creation and so unmarkable, which takes the place of the
// first one in `state` (closing that one removes it), and remembers the
// volume as one without hard links. Failure::naming where the new temporary
// cannot be made, Failure::writing where the bytes cannot be copied; the
// temporary left in `state` is for the caller to discard.
Status make_markable_copy(SafeOutputState& state);
