#pragma once

// Hooks that only the tests set, so that they can reach states a user's run
// reaches only by chance. Each is off unless a test turns it on.

#include <string>

// Makes every later safe output take the named temporary where the platform
// would otherwise write an unnamed file (safe_output-posix.cc).
void safe_output_use_named_temporaries(bool named);

// Called with a subdirectory's name just before the scrambler's walk opens
// it, so a test can change the tree at that moment (walk_tree.cc).
using WalkHook = void (*)(const std::string& subdirectory_name);
void set_walk_hook(WalkHook hook);
