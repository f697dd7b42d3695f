#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "device/adapter_device.h"

namespace ostrel {

// The layer-2 adapter: finds a TAP adapter through the registry, moves whole
// Ethernet frames, and keeps the session MAC on the tunnel side while the
// adapter keeps seeing its own MAC.
class TapDevice : public AdapterDevice {
public:
    static constexpr std::size_t kReadBufferSize = 1756;

    static std::expected<std::unique_ptr<TapDevice>, ClientError> open(std::string_view tapFilter,
                                                                      Platform& platform);
    ~TapDevice() override;

    std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t> buffer) override;
    std::expected<void, ClientError> send(std::span<const std::uint8_t> frame) override;
    std::expected<void, ClientError> flush() override;
    std::expected<void, ClientError> wait(int socket, std::chrono::nanoseconds timeout) override;

    bool adapterMacLearned() const { return learned_; }
    const Mac& adapterMac() const { return adapterMac_; }

private:
    TapDevice(Platform& platform, std::unique_ptr<TapFile> file, EventWait::SocketEvent socketEvent,
              std::string name, std::uint32_t index);

    void close();
    void rewriteOutgoing(std::span<std::uint8_t> frame);

    std::unique_ptr<TapFile> file_;
    bool closed_ = false;

    std::vector<std::uint8_t> readBuffer_;
    std::vector<std::uint8_t> sendCopy_;
    bool readPending_ = false;
    bool completedWaiting_ = false;
    std::size_t completedLength_ = 0;

    bool learned_ = false;
    Mac adapterMac_{};
};

}  // namespace ostrel
