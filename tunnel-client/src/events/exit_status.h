#pragma once
// Exit statuses of ostrel-client.
//   ExitOk (0): session ended normally, stopped while waiting, or --help
//   ExitError (1): an "error" event was printed and no reconnect follows
//   ExitUsage (2): the command line was rejected; no event was printed

namespace ostrel {

enum ExitStatus : int {
    ExitOk = 0,
    ExitError = 1,
    ExitUsage = 2,
};

} // namespace ostrel
