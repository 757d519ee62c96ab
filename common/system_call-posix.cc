// The shared pieces of the POSIX platform files.

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/system_call.h"

Status last_failure(Failure what) { return failed(what, errno); }

void close_quietly(SystemHandle& handle) {
    if (handle >= 0) close(handle);
    handle = -1;
}

DescriptorPath descriptor_path(int fd) {
    DescriptorPath path;
    std::snprintf(path.text, sizeof path.text, "/proc/self/fd/%d", fd);
    return path;
}

unsigned runner_id() {
    static const uid_t runner = geteuid();
    return static_cast<unsigned>(runner);
}
