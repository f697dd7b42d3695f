// The driver reaching up into the command line.
#include "session/session.h"
#include "cli/args_parser.h"
