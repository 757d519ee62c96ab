#pragma once

// Hooks that only the tests set, so that they can reach states a user's run
// reaches only by chance. Each is off unless a test turns it on, and does
// nothing in the programs themselves.

#include <cstddef>
#include <string>

// Makes every later safe output take the named temporary where the platform
// would otherwise write an unnamed file (safe_output-posix.cc).
void safe_output_use_named_temporaries(bool named);

// Called by the POSIX safe output with the final name once it has opened
// what stands there and before it reads what that carries, so that a test
// can swap the file at the name in that moment (safe_output-posix.cc).
using ReplaceHook = void (*)(const std::string& final_name);
inline ReplaceHook safe_output_replace_hook = nullptr;

// Where set, gives the POSIX safe output the name of its next named
// temporary instead of a random one, so that a test can plant a file under
// that name first (safe_output-posix.cc).
using TemporaryNameHook = std::string (*)(const char* prefix);
inline TemporaryNameHook temporary_name_hook = nullptr;

// Makes every volume answer as a FAT volume on a system older than
// Windows 10 1809 does: it takes no hard link, and a temporary's mark of
// creation cannot come off (file_naming-win32.cc); so every file takes the
// path for volumes without hard links. Turned off, what the folders showed
// meanwhile is forgotten. Defined on Windows only.
void safe_output_take_volumes_as_without_links(bool without);

struct DirectoryHandle;
// Whether the safe output now creates temporaries in `directory` unmarked
// and marks them just after: on Windows, once a file there found its volume
// taking neither a hard link nor the taking off of the mark; never
// elsewhere. Lets a test see that one file's failure left the way later
// files are written alone, and that one folder's way is no other's.
bool safe_output_marks_after_creation(const DirectoryHandle& directory);

// Called with the name of a subdirectory or of a matching file just before
// the scrambler's walk opens it (a file's line already printed), so a test
// can change the tree or look at the console at that moment (walk_tree.cc).
using WalkHook = void (*)(const std::string& name);
void set_walk_hook(WalkHook hook);

// Called just before the unpacker reads a block of directory records from
// the archive, with the index of the block's first entry: a test changes the
// archive there, after it was judged and before it is read again.
using DirectoryBlockHook = void (*)(size_t first_entry);
inline DirectoryBlockHook directory_block_hook = nullptr;

// Makes every later flush at the end of a run fail as a write-back error
// would (durability-*.cc), so a test can see how the run reports it.
inline bool flush_fails_for_test = false;
