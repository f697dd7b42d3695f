#include "device/wintun/wintun_device.h"

#include <algorithm>
#include <cstring>

#include "device/device_errors.h"
#include "core/text.h"
#include "platform/os_errors.h"

namespace ostrel {

namespace {

template <typename Fn>
bool bind(LibraryLoader& loader, LibraryLoader::Handle library, const char* name, Fn& slot) {
    void* symbol = loader.symbol(library, name);
    if (!symbol) return false;
    slot = reinterpret_cast<Fn>(symbol);
    return true;
}

std::string numbered(std::string_view text, std::uint32_t error) {
    return std::string(text) + ": error " + std::to_string(error);
}

}  // namespace

std::expected<std::unique_ptr<WintunDevice>, ClientError> WintunDevice::open(
    const std::optional<std::string>& libraryPath, std::string_view adapterName, Platform& platform) {
    std::string name(trim(adapterName));
    if (name.empty()) name = kDefaultAdapterName;

    // A given path is used as typed; only a blank one falls back to the default.
    std::string path = libraryPath && !trim(*libraryPath).empty() ? *libraryPath : defaultWintunLibrary();
    LibraryLoader& loader = platform.libraries;
    auto library = loader.load(path);
    if (!library) {
        std::string text = numbered(
            "failed to load wintun.dll; put wintun.dll next to ostrel-client.exe or pass --wintun-dll",
            library.error().error);
        if (!library.error().detail.empty()) text += "; " + library.error().detail;
        return std::unexpected(device_errors::open(std::move(text)));
    }

    auto fail = [&](std::string text) {
        loader.unload(*library);
        return std::unexpected(device_errors::open(std::move(text)));
    };

    Api api;
    const std::pair<const char*, bool> bound[] = {
        {"WintunCreateAdapter", bind(loader, *library, "WintunCreateAdapter", api.createAdapter)},
        {"WintunOpenAdapter", bind(loader, *library, "WintunOpenAdapter", api.openAdapter)},
        {"WintunCloseAdapter", bind(loader, *library, "WintunCloseAdapter", api.closeAdapter)},
        {"WintunGetAdapterLUID", bind(loader, *library, "WintunGetAdapterLUID", api.getAdapterLuid)},
        {"WintunStartSession", bind(loader, *library, "WintunStartSession", api.startSession)},
        {"WintunEndSession", bind(loader, *library, "WintunEndSession", api.endSession)},
        {"WintunGetReadWaitEvent", bind(loader, *library, "WintunGetReadWaitEvent", api.getReadWaitEvent)},
        {"WintunReceivePacket", bind(loader, *library, "WintunReceivePacket", api.receivePacket)},
        {"WintunReleaseReceivePacket",
         bind(loader, *library, "WintunReleaseReceivePacket", api.releaseReceivePacket)},
        {"WintunAllocateSendPacket", bind(loader, *library, "WintunAllocateSendPacket", api.allocateSendPacket)},
        {"WintunSendPacket", bind(loader, *library, "WintunSendPacket", api.sendPacket)},
    };
    for (const auto& [function, ok] : bound)
        if (!ok) return fail(std::string("wintun.dll is missing ") + function);

    void* adapter = api.openAdapter(name.c_str());
    if (!adapter) {
        adapter = api.createAdapter(name.c_str(), std::string(kTunnelType).c_str(), nullptr);
        if (!adapter)
            return fail(numbered("WintunCreateAdapter failed; install wintun.dll and run as Administrator",
                                 lastError()));
    }

    std::uint64_t luid = 0;
    api.getAdapterLuid(adapter, &luid);
    auto index = platform.ipHelper.luidToIndex(luid);
    if (!index || *index == 0) {
        api.closeAdapter(adapter);
        return fail(numbered("ConvertInterfaceLuidToIndex failed for Wintun adapter " + name, index ? 0 : index.error()));
    }

    void* session = api.startSession(adapter, kRingCapacity);
    if (!session) {
        std::uint32_t error = lastError();
        api.closeAdapter(adapter);
        return fail(numbered("WintunStartSession failed", error));
    }
    void* readEvent = api.getReadWaitEvent(session);
    if (!readEvent) {
        std::uint32_t error = lastError();
        api.endSession(session);
        api.closeAdapter(adapter);
        return fail(numbered("WintunGetReadWaitEvent failed", error));
    }
    auto socketEvent = platform.events.createSocketEvent();
    if (!socketEvent) {
        api.endSession(session);
        api.closeAdapter(adapter);
        return fail("failed to create socket wait event");
    }
    return std::unique_ptr<WintunDevice>(
        new WintunDevice(platform, *library, api, adapter, session, readEvent, *socketEvent, name, *index));
}

WintunDevice::WintunDevice(Platform& platform, LibraryLoader::Handle library, const Api& api, void* adapter,
                           void* session, void* readEvent, EventWait::SocketEvent socketEvent, std::string name,
                           std::uint32_t index)
    : AdapterDevice(platform, HostConfig::Style::Wintun, socketEvent, std::move(name), index),
      library_(library),
      api_(api),
      adapter_(adapter),
      session_(session),
      readEvent_(readEvent) {
    sendCopy_.reserve(1756);
}

WintunDevice::~WintunDevice() {
    close();
    platform_.libraries.unload(library_);
}

void WintunDevice::close() {
    if (closed_) return;
    closed_ = true;
    undoHostChanges();
    closeSocketEvent();
    if (session_) {
        api_.endSession(session_);
        session_ = nullptr;
    }
    if (adapter_) {
        api_.closeAdapter(adapter_);
        adapter_ = nullptr;
    }
}

std::expected<std::optional<std::size_t>, ClientError> WintunDevice::receive(std::span<std::uint8_t> buffer) {
    std::uint32_t size = 0;
    std::uint8_t* packet = api_.receivePacket(session_, &size);
    if (!packet) {
        std::uint32_t error = lastError();
        if (error == noMoreItemsError()) return std::optional<std::size_t>{};
        return std::unexpected(device_errors::io(error));
    }
    std::size_t n = std::min<std::size_t>(buffer.size(), size);
    std::memcpy(buffer.data(), packet, n);
    api_.releaseReceivePacket(session_, packet);
    if (n == 0 || ((buffer[0] >> 4) != 4 && (buffer[0] >> 4) != 6)) return std::optional<std::size_t>{};
    return n;
}

std::expected<void, ClientError> WintunDevice::send(std::span<const std::uint8_t> packet) {
    if (packet.empty() || ((packet[0] >> 4) != 4 && (packet[0] >> 4) != 6)) return {};
    std::span<const std::uint8_t> out = packet;
    if (host_.broadcastRewrite() && FrameRewrite::isPacketBroadcastCandidate(packet)) {
        sendCopy_.assign(packet.begin(), packet.end());
        FrameRewrite::rewriteIpv4Broadcast(sendCopy_, host_.broadcastAddress());
        out = sendCopy_;
    }
    std::uint8_t* room = api_.allocateSendPacket(session_, static_cast<std::uint32_t>(out.size()));
    if (!room) return std::unexpected(device_errors::open(numbered("WintunAllocateSendPacket failed", lastError())));
    std::memcpy(room, out.data(), out.size());
    api_.sendPacket(session_, room);
    return {};
}

std::expected<void, ClientError> WintunDevice::wait(int socket, std::chrono::nanoseconds timeout) {
    return waitWithSocket(platform_.waitableFromEvent(readEvent_), socket, timeout);
}

}  // namespace ostrel
