#pragma once

// The process's start and its console: what each program's entry point
// (program_main) sets up before its driver runs.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The program's arguments (its own name first) as paths in the form path.h
// describes: on Windows read from the UTF-16 command line, never through the
// code page.
std::vector<std::string> program_arguments(int argc, char** argv);

// Called first thing by each program: a write past a file-size limit or into
// a closed pipe then fails like any other write error, which the programs
// report; on POSIX a standard stream the program was started without is
// never taken over by a file the program opens.
void init_process();

// Whether the stream is a terminal (a console on Windows).
bool is_terminal(FILE* stream);

// Writes `text` (path.h's form) to the terminal `stream` at once: as it is
// on POSIX; on Windows through WriteConsoleW, so the console shows the
// characters themselves rather than the active code page's bytes read in
// the console's own (OEM) code page. False when not all of it was written.
bool write_to_terminal(FILE* stream, std::string_view text);
