#include "cli/program.h"

int main(int argc, char** argv) { return ostrel::runProgram(argc, argv); }
