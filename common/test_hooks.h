#pragma once

// Points inside a run where a test can act at a moment nothing outside the
// program could time reliably. Each is null, and does nothing, in the
// programs themselves.

#include <cstddef>

// Called just before the unpacker reads a block of directory records from
// the archive, with the index of the block's first entry: a test changes the
// archive there, after it was judged and before it is read again.
using DirectoryBlockHook = void (*)(size_t first_entry);
inline DirectoryBlockHook directory_block_hook = nullptr;
