#include "device/windows_tap/tap_device.h"

#include <algorithm>
#include <cstring>

#include "device/device_errors.h"
#include "core/text.h"
#include "device/windows_tap/registry.h"

namespace ostrel {

namespace {

struct Candidate {
    std::string guid;
    std::string friendlyName;
};

bool isTapComponent(std::string_view id) {
    return equalsFolded(id, "tap0901") || equalsFolded(id, "root\\tap0901");
}

std::vector<Candidate> listCandidates(Registry& registry, RegistryView::Key classKey) {
    RegistryView& view = registry.view();
    std::vector<Candidate> candidates;
    for (std::uint32_t index = 0;; ++index) {
        auto raw = view.subkeyName(classKey, index);
        if (!raw || raw->size() >= Registry::kNameBuffer) break;
        std::string path = std::string(kAdapterClassKey) + "\\" + Registry::decode(*raw);
        auto key = view.openKey(path);
        if (!key) continue;
        auto component = registry.queryString(*key, "ComponentId");
        auto guid = registry.queryString(*key, "NetCfgInstanceId");
        view.closeKey(*key);
        if (!component || !isTapComponent(*component)) continue;
        if (!guid || guid->empty()) continue;

        Candidate c{*guid, "TAP-" + *guid};
        if (auto connection = view.openKey(std::string(kConnectionsKey) + "\\" + *guid + "\\Connection")) {
            if (auto friendly = registry.queryString(*connection, "Name")) c.friendlyName = *friendly;
            view.closeKey(*connection);
        }
        candidates.push_back(std::move(c));
    }
    return candidates;
}

}  // namespace

std::expected<std::unique_ptr<TapDevice>, ClientError> TapDevice::open(std::string_view tapFilter,
                                                                      Platform& platform) {
    Registry registry(platform.registry);
    auto classKey = platform.registry.openKey(kAdapterClassKey);
    if (!classKey) return std::unexpected(device_errors::open("cannot read TAP adapter registry; install tap-windows6/OpenVPN"));
    std::vector<Candidate> candidates = listCandidates(registry, *classKey);
    platform.registry.closeKey(*classKey);

    std::string_view filter = trim(tapFilter);
    // "ostrel0" is the command line's default name, not a real choice.
    bool anyAdapter = filter.empty() || equalsFolded(filter, "ostrel0");

    int matched = 0;
    for (const Candidate& c : candidates) {
        if (!anyAdapter && !equalsFolded(filter, c.friendlyName) && !equalsFolded(filter, c.guid))
            continue;
        ++matched;

        auto guid = Guid::parse(c.guid);
        if (!guid) return std::unexpected(device_errors::open("invalid TAP adapter GUID " + c.guid));
        auto luid = platform.ipHelper.guidToLuid(*guid);
        if (!luid)
            return std::unexpected(device_errors::open("ConvertInterfaceGuidToLuid failed for " + c.guid +
                                                       ": error " + std::to_string(luid.error())));
        auto index = platform.ipHelper.luidToIndex(*luid);
        if (!index || *index == 0)
            return std::unexpected(device_errors::open("ConvertInterfaceLuidToIndex failed for " + c.guid +
                                                       ": error " + std::to_string(index ? 0 : index.error())));

        auto file = platform.tapFiles.open("\\\\.\\Global\\" + c.guid + ".tap");
        if (!file && file.error() == TapFiles::OpenFailure::File) continue;
        std::optional<EventWait::SocketEvent> socketEvent;
        if (file) socketEvent = platform.events.createSocketEvent();
        if (!file || !socketEvent)
            return std::unexpected(device_errors::open("failed to create TAP/socket wait events"));

        (*file)->setMediaStatus(true);
        return std::unique_ptr<TapDevice>(
            new TapDevice(platform, std::move(*file), *socketEvent, c.friendlyName, *index));
    }
    // Where no installed adapter could be had, the system may make one for this session;
    // one it refuses to make is an adapter that is there but cannot be opened.
    if (anyAdapter) {
        auto made = platform.tapFiles.makeSessionAdapter();
        if (made) {
            auto socketEvent = platform.events.createSocketEvent();
            if (!socketEvent) return std::unexpected(device_errors::open("failed to create TAP/socket wait events"));
            made->file->setMediaStatus(true);
            return std::unique_ptr<TapDevice>(
                new TapDevice(platform, std::move(made->file), *socketEvent, std::move(made->name), made->index));
        }
        if (made.error() == TapFiles::MakeFailure::Refused) ++matched;
    }
    if (matched > 0)
        return std::unexpected(device_errors::open(
            "matching TAP adapter could not be opened; run as Administrator and ensure it is not in use"));
    return std::unexpected(device_errors::open(
        "no matching TAP-Windows6 adapter found; install tap-windows6/OpenVPN or pass --tap <adapter-name>"));
}

TapDevice::TapDevice(Platform& platform, std::unique_ptr<TapFile> file, EventWait::SocketEvent socketEvent,
                     std::string name, std::uint32_t index)
    : AdapterDevice(platform, HostConfig::Style::Tap, socketEvent, std::move(name), index),
      file_(std::move(file)),
      readBuffer_(kReadBufferSize) {
    sendCopy_.reserve(kReadBufferSize);
}

TapDevice::~TapDevice() { close(); }

void TapDevice::close() {
    if (closed_) return;
    closed_ = true;
    // A frame held back to be joined with the next still belongs to this session: it goes
    // to the adapter while its addresses and routes are there, whatever ended the run.
    if (file_) (void)file_->flushWrites();
    undoHostChanges();
    if (file_) {
        file_->setMediaStatus(false);
        if (readPending_) {
            file_->cancelRead();
            readPending_ = false;
        }
    }
    closeSocketEvent();
    file_.reset();
}

void TapDevice::rewriteOutgoing(std::span<std::uint8_t> frame) {
    if (frame.size() <= 13 || !host_.macRewrite()) return;
    const Mac& session = host_.sessionMac();
    Mac source;
    std::copy_n(frame.begin() + 6, 6, source.begin());
    // Only a real unicast address of the adapter is worth sending frames back to.
    if (source != Mac{} && source != session && !(source[0] & 0x01)) {
        adapterMac_ = source;
        learned_ = true;
    }
    std::copy(session.begin(), session.end(), frame.begin() + 6);
    if (frame.size() >= 42 && FrameRewrite::isArpIpv4(frame))
        std::copy(session.begin(), session.end(), frame.begin() + FrameRewrite::kArpSenderMac);
}

std::expected<std::optional<std::size_t>, ClientError> TapDevice::receive(std::span<std::uint8_t> buffer) {
    std::size_t length = 0;
    if (completedWaiting_) {
        completedWaiting_ = false;
        length = completedLength_;
    } else {
        bool done = false;
        if (!readPending_) {
            auto started = file_->startRead(readBuffer_);
            if (!started) return std::unexpected(device_errors::io(started.error()));
            if (!*started) {
                // It just found nothing: testing again at once would only cost another system
                // call per pass; wait() watches the read from here on.
                readPending_ = true;
                return std::optional<std::size_t>{};
            }
            length = **started;
            done = true;
        }
        if (!done) {
            if (!file_->readSignalled()) return std::optional<std::size_t>{};
            readPending_ = false;
            auto collected = file_->collectRead();
            if (!collected) return std::unexpected(device_errors::io(collected.error()));
            length = *collected;
        }
    }
    length = std::min(length, readBuffer_.size());
    std::span<std::uint8_t> frame(readBuffer_.data(), length);
    rewriteOutgoing(frame);
    std::size_t n = std::min(buffer.size(), length);
    std::copy_n(frame.begin(), n, buffer.begin());
    return n;
}

std::expected<void, ClientError> TapDevice::send(std::span<const std::uint8_t> frame) {
    std::span<const std::uint8_t> out = frame;
    const Mac& session = host_.sessionMac();
    if (frame.size() > 13 && host_.macRewrite() && learned_ && std::equal(session.begin(), session.end(), frame.begin())) {
        sendCopy_.assign(frame.begin(), frame.end());
        std::copy(adapterMac_.begin(), adapterMac_.end(), sendCopy_.begin());
        if (sendCopy_.size() > 41 && FrameRewrite::isArpIpv4(sendCopy_) &&
            std::equal(session.begin(), session.end(), sendCopy_.begin() + FrameRewrite::kArpTargetMac))
            std::copy(adapterMac_.begin(), adapterMac_.end(), sendCopy_.begin() + FrameRewrite::kArpTargetMac);
        if (host_.broadcastRewrite()) FrameRewrite::rewriteFrameBroadcast(sendCopy_, host_.broadcastAddress());
        out = sendCopy_;
    } else if (host_.broadcastRewrite() && FrameRewrite::isFrameBroadcastCandidate(frame)) {
        sendCopy_.assign(frame.begin(), frame.end());
        FrameRewrite::rewriteFrameBroadcast(sendCopy_, host_.broadcastAddress());
        out = sendCopy_;
    }
    if (auto written = file_->write(out); !written) return std::unexpected(device_errors::io(written.error()));
    return {};
}

std::expected<void, ClientError> TapDevice::flush() {
    if (auto written = file_->flushWrites(); !written) return std::unexpected(device_errors::io(written.error()));
    return {};
}

std::expected<void, ClientError> TapDevice::wait(int socket, std::chrono::nanoseconds timeout) {
    if (completedWaiting_) return {};
    if (!readPending_) {
        auto started = file_->startRead(readBuffer_);
        if (!started) return std::unexpected(device_errors::io(started.error()));
        if (*started) {
            completedWaiting_ = true;
            completedLength_ = **started;
            return {};
        }
        readPending_ = true;
    }
    return waitWithSocket(file_->readEvent(), socket, timeout);
}

}  // namespace ostrel
