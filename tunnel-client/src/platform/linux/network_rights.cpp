#include "platform/network_rights.h"

#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ostrel {

void passNetworkRightsToChildren() {
    if (::geteuid() == 0) return;  // root's children have every right anyway

    // The set-up gives the executable CAP_NET_ADMIN; a file capability does not pass
    // through exec, so the ip runs of the host configuration get it as an ambient one.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return;
    constexpr unsigned kWord = CAP_NET_ADMIN / 32;
    constexpr unsigned kBit = 1u << (CAP_NET_ADMIN % 32);
    if ((data[kWord].permitted & kBit) == 0) return;
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_NET_ADMIN, 0, 0) == 1) return;
    data[kWord].inheritable |= kBit;
    if (::syscall(SYS_capset, &header, data) != 0) return;
    (void)::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_ADMIN, 0, 0);
}

// The kernel marks every exec that raised rights (a file capability, a set-id bit)
// as secure, and the loader passes that on.
bool holdsRightsItsUserLacks() { return ::getauxval(AT_SECURE) != 0; }

}  // namespace ostrel
