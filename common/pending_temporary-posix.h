#pragma once

// The named temporary being written, as the POSIX safe output tells it to a
// signal handler that removes it before the signal ends the program
// (safe_output_install_interrupt_cleanup, safe_output.h).

#include <string>

// From now on a signal that ends the program removes `name` in
// `directory_fd` first; a name too long to keep is not removed.
void arm_pending(int directory_fd, const std::string& name);

// The temporary is named no more (renamed into place, or removed).
void disarm_pending();
