#include "platform/linux/linux_process_launcher.h"

#include <csignal>
#include <spawn.h>
#include <string>

extern char** environ;

ProcessLauncher::Result LinuxProcessLauncher::start(const std::filesystem::path& executable,
                                                    const std::filesystem::path& workingDirectory)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (int rc = posix_spawn_file_actions_init(&actions); rc != 0)
        return {rc, 0};
    if (int rc = posix_spawnattr_init(&attr); rc != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return {rc, 0};
    }

    int rc = posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    if (rc == 0)
        rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // A clean signal state, so the program does not inherit what we blocked or ignored.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    if (rc == 0)
        rc = posix_spawnattr_setsigmask(&attr, &none);
    if (rc == 0)
        rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (rc == 0)
        rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    if (rc == 0) {
        std::string program = executable.string();
        char* argv[] = {program.data(), nullptr};
        rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv, environ);
    }

    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return {rc, rc == 0 ? static_cast<long>(pid) : 0};
}
