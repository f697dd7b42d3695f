// Packet rings over a Linux TUN interface. Errors come back as null with errno
// set, which is the Linux side's "last error".

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/linux/tun_link.h"
#include "platform/wintun_abi.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr std::uint32_t kMaxPacket = 0xFFFF;

struct Adapter {
    int fd;
    std::string name;
};

struct Session {
    Adapter* adapter;
    int fd;  // readable while received packets wait; the read-wait event points here
};

Adapter* attach(const char* name) {
    if (!name || !*name || std::strlen(name) >= IFNAMSIZ || std::strchr(name, '/')) {
        errno = EINVAL;
        return nullptr;
    }
    // With the right to administer the network TUNSETIFF would take any account's
    // interface: only one the caller could have taken without it is.
    if (!ostrel::TunLink::attachableByCaller(name)) {
        errno = EPERM;
        return nullptr;
    }
    int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    ifreq req{};
    std::strncpy(req.ifr_name, name, IFNAMSIZ - 1);
    req.ifr_flags = IFF_TUN | IFF_NO_PI;
    if (::ioctl(fd, TUNSETIFF, &req) < 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return nullptr;
    }
    auto* adapter = new (std::nothrow) Adapter{fd, name};
    if (!adapter) {
        ::close(fd);
        errno = ENOMEM;
    }
    return adapter;
}

// Packets handed out carry their size in front of them.
std::uint8_t* allocatePacket(std::uint32_t size) {
    auto* block = static_cast<std::uint8_t*>(std::malloc(sizeof(std::uint64_t) + (size ? size : 1)));
    if (!block) {
        errno = ENOMEM;
        return nullptr;
    }
    std::uint64_t stored = size;
    std::memcpy(block, &stored, sizeof stored);
    return block + sizeof(std::uint64_t);
}

[[maybe_unused]] std::uint32_t packetSize(const std::uint8_t* packet) {
    std::uint64_t stored;
    std::memcpy(&stored, packet - sizeof(std::uint64_t), sizeof stored);
    return static_cast<std::uint32_t>(stored);
}

void freePacket(const std::uint8_t* packet) {
    if (packet) std::free(const_cast<std::uint8_t*>(packet) - sizeof(std::uint64_t));
}

}  // namespace

STANDIN_EXPORT void* WintunCreateAdapter(const char* name, const char* /*tunnelType*/, const void* /*guid*/) {
    // The interface lives as long as this adapter is open.
    return attach(name);
}

STANDIN_EXPORT void* WintunOpenAdapter(const char* name) {
    // Attaching to an interface that is not a TUN one fails in TUNSETIFF.
    if (!name || if_nametoindex(name) == 0) {
        errno = ENOENT;
        return nullptr;
    }
    return attach(name);
}

STANDIN_EXPORT void WintunCloseAdapter(void* handle) {
    auto* adapter = static_cast<Adapter*>(handle);
    if (!adapter) return;
    ::close(adapter->fd);
    delete adapter;
}

STANDIN_EXPORT void WintunGetAdapterLUID(void* handle, std::uint64_t* luid) {
    auto* adapter = static_cast<Adapter*>(handle);
    if (!luid) return;
    *luid = adapter ? if_nametoindex(adapter->name.c_str()) : 0;
}

STANDIN_EXPORT void* WintunStartSession(void* handle, std::uint32_t capacity) {
    auto* adapter = static_cast<Adapter*>(handle);
    // The ring capacity must be a power of two from 128 KiB to 64 MiB.
    if (!adapter || capacity < 0x20000 || capacity > 0x4000000 || (capacity & (capacity - 1))) {
        errno = EINVAL;
        return nullptr;
    }
    int flags = ::fcntl(adapter->fd, F_GETFL);
    if (flags < 0 || ::fcntl(adapter->fd, F_SETFL, flags | O_NONBLOCK) < 0) return nullptr;
    auto* session = new (std::nothrow) Session{adapter, adapter->fd};
    if (!session) errno = ENOMEM;
    return session;
}

STANDIN_EXPORT void WintunEndSession(void* handle) { delete static_cast<Session*>(handle); }

STANDIN_EXPORT void* WintunGetReadWaitEvent(void* handle) {
    auto* session = static_cast<Session*>(handle);
    if (!session) {
        errno = EINVAL;
        return nullptr;
    }
    return &session->fd;
}

STANDIN_EXPORT std::uint8_t* WintunReceivePacket(void* handle, std::uint32_t* size) {
    auto* session = static_cast<Session*>(handle);
    if (!session || !size) {
        errno = EINVAL;
        return nullptr;
    }
    std::uint8_t* packet = allocatePacket(kMaxPacket);
    if (!packet) return nullptr;
    for (;;) {
        ssize_t n = ::read(session->fd, packet, kMaxPacket);
        if (n >= 0) {
            *size = static_cast<std::uint32_t>(n);
            return packet;
        }
        if (errno == EINTR) continue;
        int err = errno;
        freePacket(packet);
        errno = err;  // EAGAIN: the ring is empty
        return nullptr;
    }
}

STANDIN_EXPORT void WintunReleaseReceivePacket(void* /*session*/, const std::uint8_t* packet) { freePacket(packet); }

STANDIN_EXPORT std::uint8_t* WintunAllocateSendPacket(void* handle, std::uint32_t size) {
    if (!handle || size == 0 || size > kMaxPacket) {
        errno = EINVAL;
        return nullptr;
    }
    return allocatePacket(size);
}

#ifndef STANDIN_WITHOUT_SEND_PACKET
STANDIN_EXPORT void WintunSendPacket(void* handle, const std::uint8_t* packet) {
    auto* session = static_cast<Session*>(handle);
    if (session && packet) {
        // A full queue drops the packet, as a full send ring would.
        ssize_t n;
        do {
            n = ::write(session->fd, packet, packetSize(packet));
        } while (n < 0 && errno == EINTR);
    }
    freePacket(packet);
}
#endif
