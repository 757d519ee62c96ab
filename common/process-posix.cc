// The process's start and its console on POSIX systems.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "common/process.h"

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void init_process() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // A standard stream the program was started without would otherwise be
    // the first descriptor a file or directory gets, and the console's text
    // would go into it: /dev/null opened for reading stands there instead,
    // on which a write fails as it would on the closed stream.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int standing = open("/dev/null", O_RDONLY | O_NOCTTY);
            if (standing >= 0 && standing != fd) close(standing);
        }
    }
    // The walk holds one descriptor per level of the tree: allow as many as
    // the system lets this user have.
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

bool is_terminal(FILE* stream) { return stream != nullptr && isatty(fileno(stream)) != 0; }

bool write_to_terminal(FILE* stream, std::string_view text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    return std::fflush(stream) == 0 && written;
}
