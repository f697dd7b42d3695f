#include "platform/linux/tun_tap_files.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/interface_guid.h"
#include "platform/linux/tap_offload.h"
#include "platform/linux/tun_link.h"

namespace ostrel {

namespace {

#ifndef TUN_F_USO4
#define TUN_F_USO4 0x20
#define TUN_F_USO6 0x40
#endif

constexpr unsigned long kOffloads = TUN_F_CSUM | TUN_F_TSO4 | TUN_F_TSO6;
// Linux 6.2 and later also hand over and take UDP segmentation frames.
constexpr unsigned long kUdpOffloads = TUN_F_USO4 | TUN_F_USO6;

class TunTapFile : public TapFile {
public:
    TunTapFile(int fd, bool offloads, bool udpOffloads)
        : fd_(fd), offloads_(offloads), udpJoins_(udpOffloads) {
        if (offloads_) raw_.resize(VnetHeader::kSize + 65536 + 64);
    }
    ~TunTapFile() override {
        if (offloads_) {
            (void)flushWrites();
            // The interface outlives us: leave it as a reader without the header expects it.
            (void)::ioctl(fd_, TUNSETOFFLOAD, 0UL);
        }
        ::close(fd_);
    }

    std::expected<std::optional<std::size_t>, std::uint32_t> startRead(std::span<std::uint8_t> buf) override {
        pending_ = buf;
        haveResult_ = false;
        if (auto got = readOnce()) {
            if (*got) return **got;
            return std::optional<std::size_t>{};
        } else {
            return std::unexpected(got.error());
        }
    }

    bool readSignalled() override {
        if (haveResult_) return true;
        auto got = readOnce();
        if (got && !*got) return false;
        result_ = got ? std::expected<std::size_t, std::uint32_t>(**got)
                      : std::expected<std::size_t, std::uint32_t>(std::unexpected(got.error()));
        haveResult_ = true;
        return true;
    }

    std::expected<std::size_t, std::uint32_t> collectRead() override {
        if (!haveResult_ && !readSignalled()) return std::unexpected(static_cast<std::uint32_t>(EAGAIN));
        haveResult_ = false;
        return result_;
    }

    void cancelRead() override {
        // A non-blocking read never stays in flight, so there is nothing to wait for.
        haveResult_ = false;
        pending_ = {};
    }

    std::expected<void, std::uint32_t> write(std::span<const std::uint8_t> frame) override {
        if (!offloads_) return writeAll(frame);
        if (coalescer_.holding() || datagrams_.holding()) {
            if (coalescer_.holding() ? coalescer_.append(frame) : datagrams_.append(frame)) return {};
            if (auto held = flushWrites(); !held) return held;
        }
        if (coalescer_.start(frame) || (udpJoins_ && datagrams_.start(frame))) return {};
        return writeAll(kPlain, frame);
    }

    std::expected<void, std::uint32_t> flushWrites() override {
        if (coalescer_.holding()) return writeAll(coalescer_.take());
        if (datagrams_.holding()) return writeAll(datagrams_.take());
        return {};
    }

    void setMediaStatus(bool connected) override {
        int on = connected ? 1 : 0;
        (void)::ioctl(fd_, TUNSETCARRIER, &on);
    }

    Waitable readEvent() const override { return fd_; }

private:
    // Length read, nullopt when nothing waits, or the error number.
    std::expected<std::optional<std::size_t>, std::uint32_t> readOnce() {
        if (splitter_.pending()) return splitter_.next(pending_);
        std::span<std::uint8_t> into = offloads_ ? std::span<std::uint8_t>(raw_) : pending_;
        for (;;) {
            ssize_t n = ::read(fd_, into.data(), into.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) return std::optional<std::size_t>{};
                return std::unexpected(static_cast<std::uint32_t>(errno));
            }
            if (!offloads_) return static_cast<std::size_t>(n);
            // A frame that cannot be split is dropped, as a driver drops what it cannot send.
            if (splitter_.load(into.first(static_cast<std::size_t>(n)))) return splitter_.next(pending_);
        }
    }

    // One frame in one write, waiting for room as an overlapped write waits for completion.
    std::expected<void, std::uint32_t> writeAll(std::span<const std::uint8_t> head,
                                                std::span<const std::uint8_t> frame = {}) {
        iovec parts[2] = {{const_cast<std::uint8_t*>(head.data()), head.size()},
                          {const_cast<std::uint8_t*>(frame.data()), frame.size()}};
        for (;;) {
            ssize_t n = ::writev(fd_, parts, frame.empty() ? 1 : 2);
            if (n >= 0) return {};
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return std::unexpected(static_cast<std::uint32_t>(errno));
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, -1) < 0 && errno != EINTR) return std::unexpected(static_cast<std::uint32_t>(errno));
        }
    }

    static constexpr std::uint8_t kPlain[VnetHeader::kSize] = {};

    int fd_;
    bool offloads_;
    bool udpJoins_;  // the kernel takes UDP segmentation frames (it offered to hand them over)
    std::span<std::uint8_t> pending_;
    bool haveResult_ = false;
    std::expected<std::size_t, std::uint32_t> result_{0};
    std::vector<std::uint8_t> raw_;  // one read with its header, up to 64 KiB of TCP
    TsoSplitter splitter_;
    TcpCoalescer coalescer_;
    UdpCoalescer datagrams_;
};

}  // namespace

namespace {

struct Attached {
    int fd = -1;
    bool offloads = false;
    bool udpOffloads = false;
    std::string name;  // as the kernel has it, once a pattern like "ostrel%d" is settled
};

// TUNSETIFF on a fresh descriptor: attaches to the TAP interface of that name, or makes
// one when none exists. Tries the virtio-net header with offloads first, plain after.
std::expected<Attached, int> attach(const std::string& name) {
    int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::unexpected(errno);
    ifreq req{};
    std::memcpy(req.ifr_name, name.data(), std::min(name.size(), sizeof req.ifr_name - 1));
    req.ifr_flags = IFF_TAP | IFF_NO_PI | IFF_VNET_HDR;
    bool offloads = ::ioctl(fd, TUNSETIFF, &req) == 0;
    int headerSize = VnetHeader::kSize;
    const bool sized = offloads && ::ioctl(fd, TUNSETVNETHDRSZ, &headerSize) == 0;
    const bool udpOffloads = sized && ::ioctl(fd, TUNSETOFFLOAD, kOffloads | kUdpOffloads) == 0;
    if (offloads && !udpOffloads && (!sized || ::ioctl(fd, TUNSETOFFLOAD, kOffloads) != 0)) {
        // Without the offloads the header buys nothing: start again plain.
        ::close(fd);
        fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return std::unexpected(errno);
        offloads = false;
    }
    if (!offloads) {
        std::memset(req.ifr_name, 0, sizeof req.ifr_name);
        std::memcpy(req.ifr_name, name.data(), std::min(name.size(), sizeof req.ifr_name - 1));
        req.ifr_flags = IFF_TAP | IFF_NO_PI;
        if (::ioctl(fd, TUNSETIFF, &req) < 0) {
            const int error = errno;
            ::close(fd);
            return std::unexpected(error);
        }
        (void)::ioctl(fd, TUNSETOFFLOAD, 0UL);  // in case an earlier run left them on
    }
    return Attached{fd, offloads, udpOffloads, std::string(req.ifr_name, strnlen(req.ifr_name, sizeof req.ifr_name))};
}

}  // namespace

std::expected<std::unique_ptr<TapFile>, TapFiles::OpenFailure> TunTapFiles::open(std::string_view path) {
    static constexpr std::string_view kPrefix = "\\\\.\\Global\\";
    static constexpr std::string_view kSuffix = ".tap";
    if (!path.starts_with(kPrefix) || !path.ends_with(kSuffix)) return std::unexpected(OpenFailure::File);
    auto guid = Guid::parse(path.substr(kPrefix.size(), path.size() - kPrefix.size() - kSuffix.size()));
    if (!guid) return std::unexpected(OpenFailure::File);
    auto name = InterfaceGuid::findName(*guid);
    if (!name || name->size() >= IFNAMSIZ) return std::unexpected(OpenFailure::File);
    // Attach only to an existing TAP interface; TUNSETIFF would otherwise make a new one.
    auto link = TunLink::find(*name);
    if (!link || !(link->flags & IFF_TAP)) return std::unexpected(OpenFailure::File);
    // The right to administer the network lets TUNSETIFF past the interface's owner; the
    // client takes only what its user could have taken without it.
    if (!link->attachableByCaller()) return std::unexpected(OpenFailure::File);
    // One another program holds answers EBUSY: it is never taken.
    auto attached = attach(*name);
    if (!attached) return std::unexpected(OpenFailure::File);
    return std::make_unique<TunTapFile>(attached->fd, attached->offloads, attached->udpOffloads);
}

std::expected<TapFiles::SessionAdapter, TapFiles::MakeFailure> TunTapFiles::makeSessionAdapter() {
    // The kernel picks the first free name of the pattern; the interface is not
    // persistent, so it goes with the descriptor however the client ends.
    auto attached = attach(std::string(kSessionAdapterPattern));
    if (!attached) {
        // No tun driver at all is like a machine without the adapter's driver.
        if (attached.error() == ENOENT || attached.error() == ENODEV || attached.error() == ENXIO)
            return std::unexpected(MakeFailure::Unsupported);
        return std::unexpected(MakeFailure::Refused);
    }
    const unsigned index = if_nametoindex(attached->name.c_str());
    auto file = std::make_unique<TunTapFile>(attached->fd, attached->offloads, attached->udpOffloads);
    if (index == 0) return std::unexpected(MakeFailure::Refused);
    return SessionAdapter{std::move(file), attached->name, index};
}

}  // namespace ostrel
