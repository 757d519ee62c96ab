#include "common/program_main.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "common/durability.h"
#include "common/process.h"
#include "common/safe_output.h"

namespace {

// As the GNU tools close standard output: text that could not all be
// written, or a stream that fails to close, is a failure of the run even
// though its work was done. A stream that was never open and never written
// to is no failure.
bool close_standard_output() {
    const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    errno = 0;
    const bool closed = std::fclose(stdout) == 0 || errno == EBADF;
    return written && closed;
}

// A run that ends on an exception may have written files that it no longer
// knows of: they go to disk all the same, through a flush of every file
// system, before the ending is shown.
void flush_everything() {
    WrittenFileSystems everything;
    everything.unmarked = true;
    flush_written(everything);
}

}  // namespace

int program_main(int argc, char** argv, ProgramDriver driver) {
    init_process();
    safe_output_install_interrupt_cleanup();
    Console console = make_console(stdin, stdout);
    int status = 1;
    try {
        std::vector<std::string> arguments = program_arguments(argc, argv);
        std::vector<char*> pointers;
        pointers.reserve(arguments.size() + 1);
        for (std::string& argument : arguments) pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        status = driver(static_cast<int>(arguments.size()), pointers.data(), console);
    } catch (const std::bad_alloc&) {
        flush_everything();
        status = finish_run(console, "out of memory.", 1);
    } catch (...) {
        flush_everything();
        status = finish_run(console, "error.", 1);
    }
    if ((!close_standard_output() || console.write_failed) && status == 0) status = 1;
    return status;
}
