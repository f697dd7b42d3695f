// Bytes from the chat client's local socket.
//   byte 0: bits 0-6 pick how the stream is cut into reads (0: whole),
//           bit 7 makes the connection ask for join requests
//   the rest: the stream as the chat client sends it
// The stream goes through the frame reader cut both ways, then through a real
// connection over a socket of our own in the private runtime folder.
#include "fuzz_targets.h"

#include "discord/discord_rpc.h"
#include "discord/ipc_connection.h"
#include "discord/ipc_frame.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using DiscordIpc::Frame;
using DiscordIpc::FrameReader;
using DiscordIpc::Opcode;

namespace {

constexpr int kWaitMs = 10000; // far beyond any healthy answer: only a hang reaches it

struct Cut
{
    QList<Frame> frames;
    FrameReader::Result end = FrameReader::Result::NeedMore;
    QString error;
    std::size_t buffered = 0;
};

// Read sizes from the seed: 0 is the whole stream at once.
class Chunks
{
public:
    explicit Chunks(std::uint8_t seed) : m_limit(seed), m_state(0x9E3779B9u ^ seed) {}
    qsizetype next(qsizetype left)
    {
        if (m_limit == 0)
            return left;
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return std::min<qsizetype>(left, 1 + qsizetype(m_state % (m_limit * 4u)));
    }

private:
    unsigned m_limit;
    std::uint32_t m_state;
};

bool sameFrame(const Frame &a, const Frame &b)
{
    return a.opcode == b.opcode && a.raw == b.raw && a.body == b.body;
}

Cut readStream(const QByteArray &stream, std::uint8_t seed)
{
    Cut cut;
    FrameReader reader;
    Chunks chunks(seed);
    for (qsizetype at = 0; at < stream.size() && cut.end != FrameReader::Result::Error;) {
        const qsizetype n = chunks.next(stream.size() - at);
        reader.append(stream.constData() + at, std::size_t(n));
        at += n;
        Frame frame;
        while ((cut.end = reader.next(frame)) == FrameReader::Result::Frame) {
            FUZZ_CHECK(frame.opcode <= Opcode::Pong && std::size_t(frame.raw.size()) <= DiscordIpc::kMaxBodySize);
            cut.frames << frame;
        }
        // At most the frame it is still waiting for.
        FUZZ_CHECK(reader.buffered() < DiscordIpc::kHeaderSize + DiscordIpc::kMaxBodySize);
    }
    cut.error = reader.error();
    cut.buffered = reader.buffered();

    // A reset reader serves a new connection as if it were new.
    reader.reset();
    const QByteArray ping = DiscordIpc::encodeFrame(Opcode::Ping, QByteArray("{}"));
    reader.append(ping.constData(), std::size_t(ping.size()));
    Frame frame;
    FUZZ_CHECK(reader.next(frame) == FrameReader::Result::Frame && frame.raw == "{}" && reader.buffered() == 0);
    return cut;
}

void checkReader(const QByteArray &stream, std::uint8_t seed, const Cut &whole)
{
    // Every frame is exactly its bytes of the stream, in order, nothing skipped.
    QByteArray consumed;
    for (const Frame &frame : whole.frames)
        consumed += DiscordIpc::encodeFrame(frame.opcode, frame.raw);
    FUZZ_CHECK(stream.startsWith(consumed));
    if (whole.end == FrameReader::Result::NeedMore)
        FUZZ_CHECK(qsizetype(whole.buffered) == stream.size() - consumed.size());

    // However the reads fall, the same frames and the same end.
    const Cut cut = readStream(stream, seed);
    FUZZ_CHECK(cut.frames.size() == whole.frames.size());
    for (qsizetype i = 0; i < cut.frames.size(); ++i)
        FUZZ_CHECK(sameFrame(cut.frames[i], whole.frames[i]));
    FUZZ_CHECK(cut.end == whole.end && cut.error == whole.error);
    if (whole.end == FrameReader::Result::NeedMore)
        FUZZ_CHECK(cut.buffered == whole.buffered);
}

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool waitFor(int fd, short events)
{
    pollfd p{fd, events, 0};
    int r;
    while ((r = ::poll(&p, 1, kWaitMs)) < 0 && errno == EINTR) {
    }
    return r > 0;
}

// The listener the connection finds first, at the name it looks for.
int listenAt(const QByteArray &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    FUZZ_CHECK(fd >= 0 && std::size_t(path.size()) < sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    ::unlink(path.constData());
    FUZZ_CHECK(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
    FUZZ_CHECK(::listen(fd, 1) == 0);
    return fd;
}

// What the connection sends back, read as it comes: frames only, and a pong
// for each ping in order (the ones still queued at a drop are never sent, nor
// the rest of a frame a drop cuts short).
struct Answers
{
    QList<QByteArray> pings;
    FrameReader reader;
    qsizetype pongs = 0;

    // One read; false once the connection has closed its end.
    bool readSome(int fd)
    {
        char buffer[16384];
        ssize_t got;
        do {
            FUZZ_CHECK(waitFor(fd, POLLIN));
        } while ((got = ::recv(fd, buffer, sizeof buffer, 0)) < 0 && errno == EINTR);
        if (got <= 0)
            return false;
        reader.append(buffer, std::size_t(got));
        Frame frame;
        while (reader.next(frame) == FrameReader::Result::Frame) {
            FUZZ_CHECK(frame.opcode != Opcode::Handshake);
            if (frame.opcode == Opcode::Pong) {
                FUZZ_CHECK(pongs < pings.size() && frame.raw == pings[pongs]);
                ++pongs;
            }
        }
        FUZZ_CHECK(reader.error().isEmpty());
        return true;
    }
};

void checkConnection(const QByteArray &stream, std::uint8_t flags, const Cut &whole)
{
    // What the stream brings about: the first frame that ends a connection, a
    // bad frame, or else the end of the stream, and the pings before that.
    int expectedCode = whole.end == FrameReader::Result::Error ? kDiscordProtocolError : kDiscordPipeClosed;
    bool closedByPeer = false;
    bool lasts = whole.end == FrameReader::Result::NeedMore;
    Answers answers;
    for (const Frame &frame : whole.frames) {
        if (frame.opcode == Opcode::Close || frame.opcode == Opcode::Handshake) {
            closedByPeer = frame.opcode == Opcode::Close; // with a code of its own
            if (!closedByPeer)
                expectedCode = kDiscordProtocolError;
            lasts = false;
            break;
        }
        if (frame.opcode == Opcode::Ping)
            answers.pings << frame.raw;
    }

    const QByteArray path = QFile::encodeName(DiscordIpc::Connection::socketCandidates().first());
    Fd listener(listenAt(path));
    std::vector<DiscordIpc::Event> events;
    {
        DiscordIpc::Connection connection("1318472094512834560", (flags & 0x80) != 0, 4242);
        FUZZ_CHECK(waitFor(listener.get(), POLLIN));
        Fd peer(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        FUZZ_CHECK(peer.get() >= 0);

        // As the chat client does, nothing is sent before the handshake has come.
        FrameReader handshake;
        Frame first;
        while (handshake.next(first) == FrameReader::Result::NeedMore) {
            char buffer[256];
            FUZZ_CHECK(waitFor(peer.get(), POLLIN));
            const ssize_t got = ::recv(peer.get(), buffer, sizeof buffer, 0);
            FUZZ_CHECK(got > 0 || (got < 0 && errno == EINTR));
            if (got > 0)
                handshake.append(buffer, std::size_t(got));
        }
        FUZZ_CHECK(first.opcode == Opcode::Handshake && handshake.buffered() == 0);

        Chunks chunks(flags & 0x7f);
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype n = chunks.next(stream.size() - at);
            const ssize_t put = ::send(peer.get(), stream.constData() + at, std::size_t(n), MSG_NOSIGNAL);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                break; // the connection has dropped us
            at += put;
        }
        // Nothing in the stream ended it: it stays and answers every ping.
        while (lasts && answers.pongs < answers.pings.size())
            FUZZ_CHECK(answers.readSome(peer.get()));
        ::shutdown(peer.get(), SHUT_WR);
        // It notices the end of the stream, or what came before it, and closes.
        while (answers.readSome(peer.get())) {
        }

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        for (;;) {
            for (DiscordIpc::Event &event : connection.takeEvents())
                events.push_back(std::move(event));
            if (!events.empty() && events.back().kind == DiscordIpc::Event::Kind::Disconnected)
                break;
            FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        connection.stop(std::chrono::milliseconds(0));
    }
    ::unlink(path.constData());

    // One drop, for the reason the stream gave; one READY counts, and a join
    // request counts only after it.
    int drops = 0;
    bool ready = false;
    for (const DiscordIpc::Event &event : events) {
        switch (event.kind) {
        case DiscordIpc::Event::Kind::Disconnected:
            ++drops;
            if (!closedByPeer)
                FUZZ_CHECK(event.code == expectedCode);
            break;
        case DiscordIpc::Event::Kind::Ready:
            FUZZ_CHECK(!ready);
            ready = true;
            break;
        case DiscordIpc::Event::Kind::JoinGame:
            FUZZ_CHECK(ready);
            break;
        case DiscordIpc::Event::Kind::Errored:
            break;
        }
    }
    FUZZ_CHECK(drops == 1);
}

} // namespace

int fuzz::ipcStream(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const Cut whole = readStream(stream, 0);
    checkReader(stream, data[0] & 0x7f, whole);
    checkConnection(stream, data[0], whole);
    return 0;
}
