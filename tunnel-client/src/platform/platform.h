#pragma once

#include "platform/command_runner.h"
#include "platform/event_wait.h"
#include "platform/ip_helper.h"
#include "platform/library_loader.h"
#include "platform/registry_view.h"
#include "platform/tap_file.h"

namespace ostrel {

// The OS facilities the adapters use, gathered so tests can swap in fakes.
struct Platform {
    RegistryView& registry;
    TapFiles& tapFiles;
    IpHelper& ipHelper;
    CommandRunner& commands;
    EventWait& events;
    LibraryLoader& libraries;

    // Turns a packet-ring read-wait event handle into something waitAny takes.
    Waitable (*waitableFromEvent)(void* handle);
};

// The real facilities of this machine, alive for the whole process.
Platform& systemPlatform();

}  // namespace ostrel
