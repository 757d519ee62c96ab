// What a signal that ends the program does first where temporaries have
// names (pending_temporary-posix.h): removes the one being written.

#include "common/pending_temporary-posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "common/safe_output.h"

namespace {

// The named temporary being written, where a signal handler can reach it:
// a fixed buffer and a descriptor, since the handler may call nothing that
// allocates. The programs write one file at a time, so one slot serves.
struct PendingTemporary {
    volatile sig_atomic_t armed = 0;
    int directory_fd = -1;
    char name[256] = {};
};
PendingTemporary g_pending;

extern "C" void remove_pending_and_end(int signal_number) {
    if (g_pending.armed != 0) unlinkat(g_pending.directory_fd, g_pending.name, 0);
    // End the way the signal would have ended the program, so the shell
    // sees an interrupt rather than an ordinary exit. The signal stays
    // blocked until the handler returns, and then takes its default action.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal_number, &fallback, nullptr);
    raise(signal_number);
}

// Every signal whose default action ends the process. SIGKILL cannot be
// caught, and SIGPIPE and SIGXFSZ are ignored by init_process, so that the
// write fails instead.
constexpr int kEndingSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,  SIGXFSZ,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGLOST
    SIGLOST,
#endif
};

// Lets the handler catch `signal_number` unless it was ignored at start
// (nohup, or init_process's own choice).
void catch_unless_ignored(int signal_number, const struct sigaction& cleanup) {
    struct sigaction before {};
    if (sigaction(signal_number, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) return;
    sigaction(signal_number, &cleanup, nullptr);
}

}  // namespace

void arm_pending(int directory_fd, const std::string& name) {
    if (name.size() >= sizeof g_pending.name) return;
    g_pending.armed = 0;
    std::memcpy(g_pending.name, name.c_str(), name.size() + 1);
    g_pending.directory_fd = directory_fd;
    g_pending.armed = 1;
}

void disarm_pending() { g_pending.armed = 0; }

void safe_output_install_interrupt_cleanup() {
    struct sigaction cleanup {};
    cleanup.sa_handler = remove_pending_and_end;
    // No second signal runs the handler while it is running.
    sigfillset(&cleanup.sa_mask);
    for (const int signal_number : kEndingSignals) catch_unless_ignored(signal_number, cleanup);
#if defined(SIGRTMIN) && defined(SIGRTMAX)
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
        catch_unless_ignored(signal_number, cleanup);
#endif
}

