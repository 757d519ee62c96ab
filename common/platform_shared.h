#pragma once

// Pieces of the platform layer that both implementations use.

#include <cstdint>
#include <string>

#include "common/platform.h"

// A temporary file name that begins with `prefix` and that no run is likely
// to pick twice; creation is exclusive anyway, so a clash costs only a retry.
std::string temporary_name(const char* prefix);

// The portable copy: positional reads into a bounded buffer, then writes.
bool copy_by_blocks(SafeOutput& output, InputFile& source, int64_t offset, int64_t length);
