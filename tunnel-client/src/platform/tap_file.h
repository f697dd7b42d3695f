#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/event_wait.h"

namespace ostrel {

// An open TAP device file with its read and write events: one overlapped read
// at a time, writes that return once the adapter took the frame (or, where frames
// are joined before they reach the adapter, held it until flushWrites).
class TapFile {
public:
    virtual ~TapFile() = default;

    // Starts a read into buf (which must outlive it): the length when it
    // completed at once, nullopt when it is pending, or the error number.
    virtual std::expected<std::optional<std::size_t>, std::uint32_t> startRead(std::span<std::uint8_t> buf) = 0;
    // Tests the read event without waiting.
    virtual bool readSignalled() = 0;
    // Result of the pending read once its event is signalled.
    virtual std::expected<std::size_t, std::uint32_t> collectRead() = 0;
    // Cancels a pending read and waits until it has ended.
    virtual void cancelRead() = 0;
    virtual std::expected<void, std::uint32_t> write(std::span<const std::uint8_t> frame) = 0;
    // Writes what write() held back to join it with later frames; nothing by default.
    virtual std::expected<void, std::uint32_t> flushWrites() { return {}; }
    // The media-status control; its result is never looked at.
    virtual void setMediaStatus(bool connected) = 0;
    virtual Waitable readEvent() const = 0;
};

class TapFiles {
public:
    enum class OpenFailure { File, Events };

    // An adapter made for one session: it goes when its file closes.
    struct SessionAdapter {
        std::unique_ptr<TapFile> file;
        std::string name;
        std::uint32_t index = 0;
    };
    // Why no session adapter came: the system has none to make (an installer puts
    // adapters on the machine), or making one was refused (missing rights).
    enum class MakeFailure { Unsupported, Refused };

    virtual ~TapFiles() = default;
    // Opens "\\.\Global\{GUID}.tap" exclusively, with its read and write events.
    virtual std::expected<std::unique_ptr<TapFile>, OpenFailure> open(std::string_view path) = 0;
    // Makes a fresh adapter for this session where the system makes them on demand.
    virtual std::expected<SessionAdapter, MakeFailure> makeSessionAdapter() {
        return std::unexpected(MakeFailure::Unsupported);
    }
};

}  // namespace ostrel
