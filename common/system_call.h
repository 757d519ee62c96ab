#pragma once

// What the platform files share around their system calls.

#include "common/status.h"

#ifdef _WIN32
using SystemHandle = void*;  // a HANDLE; null when closed
#else
using SystemHandle = int;    // a descriptor; -1 when closed
#endif

// Closes the handle if it is open and marks it closed; a failure to close
// something only read is nothing to report.
void close_quietly(SystemHandle& handle);

#ifndef _WIN32
// "/proc/self/fd/N", the path by which a descriptor's own file is reached
// where a call takes only a path; built without allocating.
struct DescriptorPath {
    char text[32];
};
DescriptorPath descriptor_path(int fd);

// The effective user the program runs as, asked once.
unsigned runner_id();
#endif
