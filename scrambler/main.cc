#include "common/program_main.h"
#include "scrambler/run_scrambler.h"

int main(int argc, char** argv) { return program_main(argc, argv, run_scrambler); }
