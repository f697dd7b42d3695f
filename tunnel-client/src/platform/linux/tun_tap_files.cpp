#include "platform/linux/tun_tap_files.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/interface_guid.h"

namespace ostrel {

namespace {

class TunTapFile : public TapFile {
public:
    explicit TunTapFile(int fd) : fd_(fd) {}
    ~TunTapFile() override { ::close(fd_); }

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
        for (;;) {
            ssize_t n = ::write(fd_, frame.data(), frame.size());
            if (n >= 0) return {};
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return std::unexpected(static_cast<std::uint32_t>(errno));
            // The queue is full: wait for room, as an overlapped write waits for completion.
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, -1) < 0 && errno != EINTR) return std::unexpected(static_cast<std::uint32_t>(errno));
        }
    }

    void setMediaStatus(bool connected) override {
        int on = connected ? 1 : 0;
        (void)::ioctl(fd_, TUNSETCARRIER, &on);
    }

    Waitable readEvent() const override { return fd_; }

private:
    // Length read, nullopt when nothing waits, or the error number.
    std::expected<std::optional<std::size_t>, std::uint32_t> readOnce() {
        for (;;) {
            ssize_t n = ::read(fd_, pending_.data(), pending_.size());
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return std::optional<std::size_t>{};
            return std::unexpected(static_cast<std::uint32_t>(errno));
        }
    }

    int fd_;
    std::span<std::uint8_t> pending_;
    bool haveResult_ = false;
    std::expected<std::size_t, std::uint32_t> result_{0};
};

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
    auto flags = InterfaceGuid::tunFlags(*name);
    if (!flags || !(*flags & IFF_TAP)) return std::unexpected(OpenFailure::File);

    int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::unexpected(OpenFailure::File);
    ifreq req{};
    std::memcpy(req.ifr_name, name->data(), name->size());
    req.ifr_flags = IFF_TAP | IFF_NO_PI;
    if (::ioctl(fd, TUNSETIFF, &req) < 0) {
        ::close(fd);
        return std::unexpected(OpenFailure::File);
    }
    return std::make_unique<TunTapFile>(fd);
}

}  // namespace ostrel
