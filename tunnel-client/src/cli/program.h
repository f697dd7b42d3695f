#pragma once
// runProgram: ostrel-client as a whole. Parses the command line, drops the password
// from the process's arguments, installs console control and runs the driver's attempts.

namespace ostrel {

int runProgram(int argc, char** argv);

}  // namespace ostrel
