#include "common/program_main.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "common/platform.h"

namespace {

int end_on_failure(Console& console, const char* message) {
    if (!console.at_line_start) console_print(console, "\n");
    console_print(console, "%s\npress enter key.\n", message);
    wait_for_key(console);
    return 1;
}

}  // namespace

int program_main(int argc, char** argv, ProgramDriver driver) {
    init_process();
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
        status = end_on_failure(console, "out of memory.");
    } catch (...) {
        status = end_on_failure(console, "error.");
    }
    console_flush(console);
    return status;
}
