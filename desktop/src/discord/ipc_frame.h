#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstddef>
#include <cstdint>

// Frames of the Discord IPC socket: a 32-bit little-endian opcode, a 32-bit
// little-endian body length, then a JSON object of that length.
namespace DiscordIpc {

enum class Opcode : uint32_t { Handshake = 0, Frame = 1, Close = 2, Ping = 3, Pong = 4 };

inline constexpr std::size_t kHeaderSize = 8;
// Nothing the Discord client sends comes near this; a larger length means a
// corrupt stream, and we refuse to buffer it.
inline constexpr std::size_t kMaxBodySize = 64 * 1024;

QByteArray encodeFrame(Opcode opcode, const QByteArray &body);
QByteArray encodeFrame(Opcode opcode, const QJsonObject &body);

struct Frame
{
    Opcode opcode = Opcode::Frame;
    QByteArray raw;   // the body as received
    QJsonObject body; // parsed
};

// Cuts a byte stream into frames. Holds at most one frame's worth of bytes
// beyond what the caller appended last; any malformed frame is an error.
class FrameReader
{
public:
    enum class Result { NeedMore, Frame, Error };

    void append(const char *data, std::size_t size);
    Result next(Frame &frame);
    QString error() const { return m_error; }
    std::size_t buffered() const { return static_cast<std::size_t>(m_buffer.size()); }
    void reset();

private:
    QByteArray m_buffer;
    QString m_error;
};

} // namespace DiscordIpc
