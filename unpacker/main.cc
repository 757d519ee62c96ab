#include "common/program_main.h"
#include "unpacker/run_unpacker.h"

int main(int argc, char** argv) { return program_main(argc, argv, run_unpacker); }
