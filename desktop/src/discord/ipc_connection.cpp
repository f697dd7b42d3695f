#include "discord/ipc_connection.h"
#include "discord/discord_rpc.h"
#include "platform/private_places.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace DiscordIpc {

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

std::atomic<int64_t> gFirstDelayMs{500};
std::atomic<int64_t> gMaxDelayMs{30000};
std::atomic<int64_t> gErrorIntervalMs{10000};

constexpr std::size_t kReadChunk = 16 * 1024;
constexpr int kReadsPerWake = 16; // then let the loop look at other work

QByteArray utf8(const QJsonValue &value)
{
    return value.toString().toUtf8();
}

} // namespace

void Connection::setRetryDelays(milliseconds first, milliseconds max)
{
    gFirstDelayMs = first.count();
    gMaxDelayMs = std::max(first, max).count();
}

void Connection::setErrorInterval(milliseconds interval)
{
    gErrorIntervalMs = interval.count();
}

QStringList Connection::socketCandidates()
{
    QString directory = QStringLiteral("/tmp");
    for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR", "TMP", "TEMP"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty()) {
            directory = QString::fromLocal8Bit(value);
            break;
        }
    }
    QStringList paths;
    for (int i = 0; i < 10; ++i)
        paths << directory + QStringLiteral("/discord-ipc-%1").arg(i);
    return paths;
}

Connection::Connection(QByteArray clientId, bool subscribeJoin, int64_t pid)
    : m_clientId(std::move(clientId)), m_subscribeJoin(subscribeJoin), m_pid(pid),
      m_delay(gFirstDelayMs.load())
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

Connection::~Connection()
{
    stop(milliseconds(0));
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void Connection::setActivity(const QJsonObject &activity)
{
    {
        std::lock_guard lock(m_mutex);
        m_activity = activity;
        m_activitySet = true;
        m_activityDirty = true;
    }
    wake();
}

void Connection::requestReconnect()
{
    {
        std::lock_guard lock(m_mutex);
        m_reconnectRequested = true;
    }
    wake();
}

std::vector<Event> Connection::takeEvents()
{
    std::lock_guard lock(m_mutex);
    std::vector<Event> events(std::make_move_iterator(m_events.begin()),
                              std::make_move_iterator(m_events.end()));
    m_events.clear();
    return events;
}

void Connection::stop(milliseconds flush)
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_flush = flush;
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

void Connection::wake()
{
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
}

void Connection::pushEvent(Event event)
{
    std::lock_guard lock(m_mutex);
    // Nobody pumping callbacks must not mean memory growing without end.
    if (m_events.size() < kMaxQueuedEvents)
        m_events.push_back(std::move(event));
}

void Connection::run()
{
    for (;;) {
        bool stopping = false;
        bool reconnectWanted = false;
        milliseconds flush{0};
        {
            std::lock_guard lock(m_mutex);
            stopping = m_stopping;
            flush = m_flush;
            reconnectWanted = m_reconnectRequested;
        }
        if (stopping) {
            flushAndClose(flush);
            return;
        }

        if (m_fd < 0 && reconnectWanted && Clock::now() >= m_nextAttempt) {
            {
                std::lock_guard lock(m_mutex);
                m_reconnectRequested = false;
            }
            reconnectWanted = false;
            if (!tryConnect()) {
                m_nextAttempt = Clock::now() + m_delay;
                m_delay = std::min(m_delay * 2, milliseconds(gMaxDelayMs.load()));
            }
        }
        if (m_fd >= 0 && m_state == State::Ready)
            queueActivityIfDirty();
        if (m_fd >= 0 && static_cast<std::size_t>(m_outgoing.size()) > kMaxOutgoingBytes)
            drop(kDiscordProtocolError, QStringLiteral("the peer does not read; send buffer full"));

        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (m_fd >= 0) {
            fds[1] = {m_fd, static_cast<short>(POLLIN | (m_outgoing.isEmpty() ? 0 : POLLOUT)), 0};
            count = 2;
        }
        int timeout = -1;
        if (m_fd < 0 && reconnectWanted) {
            const auto left = std::chrono::duration_cast<milliseconds>(m_nextAttempt - Clock::now());
            timeout = static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, 60000));
        }
        if (::poll(fds, count, timeout) < 0 && errno != EINTR)
            return; // cannot happen with valid descriptors; never spin

        if (fds[0].revents & POLLIN) {
            uint64_t drained = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &drained, sizeof drained);
        }
        if (count == 2 && m_fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            readAvailable();
        if (count == 2 && m_fd >= 0 && (fds[1].revents & POLLOUT) && !writePending())
            drop(kDiscordPipeClosed, QStringLiteral("write failed: ") + QString::fromLocal8Bit(std::strerror(errno)));
    }
}

bool Connection::tryConnect()
{
    for (const QString &path : socketCandidates()) {
        const QByteArray native = path.toLocal8Bit();
        sockaddr_un address{};
        if (static_cast<std::size_t>(native.size()) >= sizeof address.sun_path)
            continue;
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, native.constData(), static_cast<std::size_t>(native.size()));
        // Non-blocking from the start: a listener with a full backlog must not
        // hold this thread, which shutdown waits for.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return false;
        // Any account may listen under these names in a shared folder: only a
        // peer of the player's own account is the player's chat client.
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
            || !platform::peerIsThisAccount(fd)) {
            ::close(fd);
            continue;
        }
        m_fd = fd;
        m_state = State::Handshaking;
        m_reader.reset();
        m_outgoing.clear();
        queueFrame(Opcode::Handshake,
                   QJsonDocument(QJsonObject{{QStringLiteral("v"), 1},
                                             {QStringLiteral("client_id"), QString::fromUtf8(m_clientId)}})
                       .toJson(QJsonDocument::Compact));
        return true;
    }
    return false;
}

void Connection::drop(int code, const QString &message)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_state = State::Disconnected;
    m_reader.reset();
    m_outgoing.clear();
    m_nextAttempt = Clock::now() + m_delay;
    m_delay = std::min(m_delay * 2, milliseconds(gMaxDelayMs.load()));
    Event event;
    event.kind = Event::Kind::Disconnected;
    event.code = code;
    event.text = message.toUtf8();
    pushEvent(std::move(event));
}

void Connection::readAvailable()
{
    char chunk[kReadChunk];
    for (int i = 0; i < kReadsPerWake && m_fd >= 0; ++i) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n == 0) {
            drop(kDiscordPipeClosed, QStringLiteral("pipe closed"));
            return;
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            drop(kDiscordPipeClosed, QStringLiteral("read failed: ") + QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_reader.append(chunk, static_cast<std::size_t>(n));
        Frame frame;
        for (;;) {
            const FrameReader::Result result = m_reader.next(frame);
            if (result == FrameReader::Result::NeedMore)
                break;
            if (result == FrameReader::Result::Error) {
                drop(kDiscordProtocolError, QStringLiteral("protocol error: ") + m_reader.error());
                return;
            }
            handleFrame(frame);
            if (m_fd < 0)
                return;
        }
    }
}

void Connection::handleFrame(const Frame &frame)
{
    switch (frame.opcode) {
    case Opcode::Frame:
        handleDispatch(frame.body);
        return;
    case Opcode::Close:
        drop(frame.body.value(QStringLiteral("code")).toInt(),
             frame.body.value(QStringLiteral("message")).toString());
        return;
    case Opcode::Ping:
        queueFrame(Opcode::Pong, frame.raw);
        return;
    case Opcode::Pong:
        return;
    case Opcode::Handshake:
        break;
    }
    drop(kDiscordProtocolError, QStringLiteral("protocol error: unexpected handshake frame"));
}

void Connection::handleDispatch(const QJsonObject &body)
{
    const QString command = body.value(QStringLiteral("cmd")).toString();
    const QString name = body.value(QStringLiteral("evt")).toString();
    const QJsonObject data = body.value(QStringLiteral("data")).toObject();
    if (name == QLatin1String("ERROR")) {
        // Only a client we are connected with has errors to report, and one that
        // sends them without end is heard once an interval, not once a frame.
        if (m_state != State::Ready)
            return;
        const auto now = Clock::now();
        if (now < m_nextErrorReport) {
            ++m_errorsHeld;
            return;
        }
        m_nextErrorReport = now + milliseconds(gErrorIntervalMs.load());
        Event event;
        event.kind = Event::Kind::Errored;
        event.code = data.value(QStringLiteral("code")).toInt();
        event.text = utf8(data.value(QStringLiteral("message")));
        if (m_errorsHeld > 0)
            event.text += " (" + QByteArray::number(m_errorsHeld) + " more since the last one reported)";
        m_errorsHeld = 0;
        pushEvent(std::move(event));
        return;
    }
    if (command != QLatin1String("DISPATCH"))
        return; // replies to our commands carry nothing we need
    if (name == QLatin1String("READY")) {
        if (m_state == State::Ready)
            return;
        m_state = State::Ready;
        m_delay = milliseconds(gFirstDelayMs.load());
        const QJsonObject user = data.value(QStringLiteral("user")).toObject();
        Event event;
        event.kind = Event::Kind::Ready;
        event.userId = utf8(user.value(QStringLiteral("id")));
        event.username = utf8(user.value(QStringLiteral("username")));
        event.discriminator = utf8(user.value(QStringLiteral("discriminator")));
        event.avatar = utf8(user.value(QStringLiteral("avatar")));
        pushEvent(std::move(event));
        if (m_subscribeJoin)
            queueCommand(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("SUBSCRIBE")},
                                     {QStringLiteral("evt"), QStringLiteral("ACTIVITY_JOIN")}});
        {
            // A restarted Discord client shows what we last set.
            std::lock_guard lock(m_mutex);
            m_activityDirty = m_activitySet;
        }
        queueActivityIfDirty();
    } else if (name == QLatin1String("ACTIVITY_JOIN") && m_state == State::Ready) {
        Event event;
        event.kind = Event::Kind::JoinGame;
        event.text = utf8(data.value(QStringLiteral("secret")));
        pushEvent(std::move(event));
    }
}

void Connection::queueFrame(Opcode opcode, const QByteArray &body)
{
    m_outgoing.append(encodeFrame(opcode, body));
}

void Connection::queueCommand(QJsonObject command)
{
    command.insert(QStringLiteral("nonce"), QString::number(++m_nonce));
    queueFrame(Opcode::Frame, QJsonDocument(command).toJson(QJsonDocument::Compact));
}

void Connection::queueActivityIfDirty()
{
    QJsonObject activity;
    {
        std::lock_guard lock(m_mutex);
        if (!m_activityDirty)
            return;
        m_activityDirty = false;
        activity = m_activity;
    }
    QJsonObject args{{QStringLiteral("pid"), static_cast<qint64>(m_pid)}};
    args.insert(QStringLiteral("activity"), activity.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                               : QJsonValue(activity));
    queueCommand(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("SET_ACTIVITY")},
                             {QStringLiteral("args"), args}});
}

bool Connection::writePending()
{
    while (!m_outgoing.isEmpty()) {
        const ssize_t n = ::send(m_fd, m_outgoing.constData(), static_cast<std::size_t>(m_outgoing.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_outgoing.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

void Connection::flushAndClose(milliseconds flush)
{
    if (m_fd < 0)
        return;
    if (m_state == State::Ready)
        queueActivityIfDirty();
    const auto deadline = Clock::now() + flush;
    while (!m_outgoing.isEmpty()) {
        if (!writePending())
            break;
        if (m_outgoing.isEmpty())
            break;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd pfd{m_fd, POLLOUT, 0};
        if (::poll(&pfd, 1, static_cast<int>(left)) <= 0)
            break;
    }
    ::close(m_fd);
    m_fd = -1;
    m_state = State::Disconnected;
}

} // namespace DiscordIpc
