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
