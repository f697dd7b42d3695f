#include "applier_main.h"
#include "file_operations.h"
#include "platform/linux/linux_process_launcher.h"
#include "platform/linux/linux_process_waiter.h"
#include "platform/linux/linux_sleeper.h"

#include <string>
#include <vector>

// Prints nothing and reads nothing: everything it has to say goes to updater.log.
int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv, argv + argc);
    StdFileOperations files;
    LinuxProcessWaiter waiter;
    LinuxProcessLauncher launcher;
    LinuxSleeper sleeper;
    ApplierEnvironment env{files, waiter, launcher, sleeper};
    return static_cast<int>(runApplier(arguments, env));
}
