#pragma once

// Pieces of the platform layer that both implementations use.

#include <cstdint>
#include <string>

#include "common/platform.h"

// A temporary file name that begins with `prefix` and that no run is likely
// to pick twice; creation is exclusive anyway, so a clash costs only a retry.
std::string temporary_name(const char* prefix);

// Case-insensitive order, ties broken by bytes, so a listing comes out the
// same on every run and every machine whatever the file system returns.
bool listing_order(const DirEntry& a, const DirEntry& b);

// The portable copy: positional reads into a bounded buffer, then writes.
bool copy_by_blocks(SafeOutput& output, InputFile& source, int64_t offset, int64_t length);
