// The shared pieces of the Windows platform files.

#include <windows.h>

#include "common/system_call.h"

Status last_failure(Failure what) { return failed(what, static_cast<int>(GetLastError())); }

void close_quietly(SystemHandle& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}
