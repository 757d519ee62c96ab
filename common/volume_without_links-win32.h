#pragma once

// The Windows safe output's path for volumes without hard links (FAT and
// exFAT, on systems that cannot take the delete-on-close mark off a file
// created with it): the finished file cannot take its name as a link, and
// its mark cannot come off for a rename, so its bytes are copied once into
// a temporary marked just after creation, whose mark can come off. What
// the volume can do is learnt at the first file of each folder and kept
// here for the run, by folder: later files in that folder are made
// markable from the start, and a USB stick met once changes nothing for
// the files of any other folder.

#include <windows.h>

#include "common/safe_output_state-win32.h"
#include "common/status.h"

// Whether temporaries in the open directory `folder` are to be created
// unmarked and marked just after: its volume was seen there to take neither
// a hard link nor the taking off of the mark.
bool marks_after_creation(HANDLE folder);

// Puts the bytes written so far into a new temporary beside the final name,
// marked after creation and so unmarkable, which takes the place of the
// first one in `state` (closing that one removes it), and remembers the
// folder the file goes in as one whose volume has no hard links. Failure::naming where the new temporary
// cannot be made, Failure::writing where the bytes cannot be copied; the
// temporary left in `state` is for the caller to discard.
Status make_markable_copy(SafeOutputState& state);

// For a test only (test_hooks.h): forgets every folder learnt so far.
void forget_folders_without_links();
