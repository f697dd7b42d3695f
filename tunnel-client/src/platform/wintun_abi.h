#pragma once

// Our own declarations of the packet-ring library's eleven entry points, as
// the Wintun device binds them by name. Failures return null and leave the
// reason in the thread's last error (errno on Linux).

#include <cstdint>

extern "C" {

typedef void* (*WintunCreateAdapterFn)(const char* name, const char* tunnelType, const void* requestedGuid);
typedef void* (*WintunOpenAdapterFn)(const char* name);
typedef void (*WintunCloseAdapterFn)(void* adapter);
typedef void (*WintunGetAdapterLuidFn)(void* adapter, std::uint64_t* luid);
typedef void* (*WintunStartSessionFn)(void* adapter, std::uint32_t capacity);
typedef void (*WintunEndSessionFn)(void* session);
// On Linux the event handle points at a descriptor that is readable while
// received packets wait.
typedef void* (*WintunGetReadWaitEventFn)(void* session);
typedef std::uint8_t* (*WintunReceivePacketFn)(void* session, std::uint32_t* size);
typedef void (*WintunReleaseReceivePacketFn)(void* session, const std::uint8_t* packet);
typedef std::uint8_t* (*WintunAllocateSendPacketFn)(void* session, std::uint32_t size);
typedef void (*WintunSendPacketFn)(void* session, const std::uint8_t* packet);
}
