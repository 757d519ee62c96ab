#pragma once

// What the two platforms' safe outputs share (safe_output.cc); the callers
// of the safe output need none of it.

#include <cstdint>
#include <string>

#include "common/safe_output.h"

// A temporary file name that begins with `prefix` and that no run is likely
// to pick twice; creation is exclusive anyway, so a clash costs only a retry.
std::string temporary_name(const char* prefix);

// The portable copy: positional reads into a bounded buffer, then writes.
// Discards the output on a failure, as every safe output call does.
Status copy_by_blocks(SafeOutput& output, InputFile& source, int64_t offset, int64_t length);

// Discards the output and hands on the failure: every safe output call
// leaves nothing behind once it has failed.
Status discarded(SafeOutput& output, Status status);
