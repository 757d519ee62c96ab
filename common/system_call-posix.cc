// The shared pieces of the POSIX platform files.

#include <unistd.h>

#include <cerrno>

#include "common/system_call.h"

Status last_failure(Failure what) { return failed(what, errno); }

void close_quietly(SystemHandle& handle) {
    if (handle >= 0) close(handle);
    handle = -1;
}
