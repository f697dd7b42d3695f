#include "platform/platform.h"
#include "platform/linux/dl_library_loader.h"
#include "platform/linux/netlink_ip_helper.h"
#include "platform/linux/netsh_command_runner.h"
#include "platform/linux/poll_event_wait.h"
#include "platform/linux/sysfs_registry.h"
#include "platform/linux/tun_tap_files.h"

namespace ostrel {

namespace {

Waitable descriptorOfEvent(void* handle) { return handle ? *static_cast<const int*>(handle) : -1; }

}  // namespace

Platform& systemPlatform() {
    static SysfsRegistry registry;
    static TunTapFiles tapFiles;
    static NetlinkIpHelper ipHelper;
    static NetshCommandRunner commands;
    static PollEventWait events;
    static DlLibraryLoader libraries;
    static Platform platform{registry, tapFiles, ipHelper, commands, events, libraries, descriptorOfEvent};
    return platform;
}

}  // namespace ostrel
