#include "service_server.h"

#include "lobby_hub.h"

#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 422: return "Unprocessable Entity";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray methodWord(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    default: return "OTHER";
    }
}

bool isWebSocketUpgrade(const QHttpServerRequest &request)
{
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

// The answers a connection still owes, first the one going out; it goes with its socket.
class AnswerQueue : public QObject
{
    Q_OBJECT

public:
    using Answer = std::function<void(const std::function<void()> &)>;

    static AnswerQueue *of(QTcpSocket *socket)
    {
        auto *queue = socket->findChild<AnswerQueue *>(QString(), Qt::FindDirectChildrenOnly);
        return queue ? queue : new AnswerQueue(socket);
    }

    void add(Answer answer)
    {
        m_waiting.append(std::move(answer));
        if (!m_busy)
            next();
    }

private:
    explicit AnswerQueue(QObject *socket)
        : QObject(socket)
    {
    }

    void next()
    {
        m_busy = !m_waiting.isEmpty();
        if (!m_busy)
            return;
        const Answer answer = m_waiting.takeFirst();
        auto called = std::make_shared<bool>(false);
        answer([queue = QPointer<AnswerQueue>(this), called] {
            if (queue && !std::exchange(*called, true))
                queue->next();
        });
    }

    QList<Answer> m_waiting;
    bool m_busy = false;
};

} // namespace

ServiceReply ServiceReply::json(int status, const QJsonObject &object)
{
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json"};
}

ServiceReply ServiceReply::error(int status, const QString &detail)
{
    return json(status, {{QStringLiteral("detail"), detail}});
}

ServiceServer::ServiceServer(QObject *parent)
    : QAbstractHttpServer(parent)
{
    registerAccountRoutes(*this);
    registerCatalogueRoutes(*this);
    registerVlanRoutes(*this);
    registerControlRoutes(*this);
    registerUpdateRoutes(*this);
    registerStaticRoutes(*this);
    registerCatalogueControls(*this);
    m_lobby = new LobbyHub(*this, this);
    registerLobbyRoutes(*this);
}

ServiceServer::~ServiceServer() = default;

void ServiceServer::addRoute(const QByteArray &method, const QString &pattern, Handler handler)
{
    m_routes.append(Route{method, pattern.split(QLatin1Char('/')), std::move(handler)});
}

void ServiceServer::addRule(const QString &path, const ControlRule &rule)
{
    m_rules[path].append(rule);
}

void ServiceServer::clearRules()
{
    m_rules.clear();
}

ServiceReply ServiceServer::dispatch(ServiceCall &call)
{
    // Match on the encoded path so an encoded "/" stays inside its segment.
    const QStringList parts = call.path.split(QLatin1Char('/'));
    bool pathKnown = false;
    for (const Route &route : m_routes) {
        if (route.segments.size() != parts.size())
            continue;
        QStringList captures;
        bool match = true;
        for (qsizetype i = 0; i < parts.size() && match; ++i) {
            if (route.segments.at(i) == QLatin1String("{}"))
                captures.append(QUrl::fromPercentEncoding(parts.at(i).toUtf8()));
            else
                match = route.segments.at(i) == parts.at(i);
        }
        if (!match)
            continue;
        pathKnown = true;
        if (route.method != call.method)
            continue;
        call.captures = captures;
        return route.handler(call);
    }
    return pathKnown ? ServiceReply::error(405, QStringLiteral("Method Not Allowed"))
                     : ServiceReply::error(404, QStringLiteral("Not Found"));
}

bool ServiceServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // Accepting an upgrade means answering nothing here: the server hands the
    // socket to its WebSocket side, which the lobby serves.
    if (isWebSocketUpgrade(request))
        return request.url().path().startsWith(QLatin1String("/api/ws/"));
    ServiceCall call;
    call.method = methodWord(request.method());
    call.path = request.url().path(QUrl::FullyEncoded);
    call.query = QUrlQuery(request.url());
    call.rawBody = request.body();
    const QJsonDocument doc = QJsonDocument::fromJson(call.rawBody);
    call.bodyIsObject = doc.isObject();
    call.body = doc.object();
    const QByteArray auth = request.value("authorization");
    if (auth.startsWith("Bearer "))
        call.bearer = QString::fromUtf8(auth.mid(7));
    call.lang = QString::fromUtf8(request.value("x-lang"));

    const QString fullPath = QString::fromUtf8(request.url().toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority));
    QJsonObject entry{{QStringLiteral("method"), QString::fromLatin1(call.method)},
                      {QStringLiteral("path"), fullPath},
                      {QStringLiteral("authorization"), QString::fromUtf8(auth)},
                      {QStringLiteral("x_lang"), call.lang},
                      {QStringLiteral("x_app_version"), QString::fromUtf8(request.value("x-app-version"))},
                      {QStringLiteral("content_type"), QString::fromUtf8(request.value("content-type"))},
                      {QStringLiteral("body"), QString::fromUtf8(call.rawBody)}};
    m_log.append(entry);

    ControlRule rule;
    auto rules = m_rules.find(call.path);
    if (rules != m_rules.end() && !rules->isEmpty())
        rule = rules->takeFirst();

    if (rule.hang) {
        watchForDeparture(socket, call.path);
        // Never done: nothing the connection is asked later goes out either.
        inTurn(socket, [](const Done &) {});
        return true; // the client's time-out ends it
    }
    if (rule.streamBytes > 0) {
        inTurn(socket, [this, socket, bytes = rule.streamBytes, answered = watchForDeparture(socket, call.path)](
                           const Done &done) { stream(socket, bytes, answered, done); });
        return true;
    }
    ServiceReply reply;
    if (rule.status != 0)
        reply = rule.detail.isNull() ? ServiceReply::json(rule.status, {})
                                     : ServiceReply::error(rule.status, rule.detail);
    else
        reply = dispatch(call);
    if (!rule.rawBody.isNull())
        reply.body = rule.rawBody;
    if (rule.malformed)
        reply.body = "{\"detail\": \"trunc";

    if (rule.hold) {
        inTurn(socket, [this, path = call.path, socket, reply, answered = watchForDeparture(socket, call.path)](
                           const Done &done) { m_held.append(HeldReply{path, socket, reply, answered, done}); });
        return true;
    }
    if (rule.trickleMs > 0) {
        inTurn(socket, [this, socket, reply, ms = rule.trickleMs, answered = watchForDeparture(socket, call.path)](
                           const Done &done) { trickle(socket, reply, ms, answered, done); });
        return true;
    }
    if (rule.bytesPerSecond > 0) {
        inTurn(socket, [this, socket, reply, rate = rule.bytesPerSecond, answered = watchForDeparture(socket, call.path)](
                           const Done &done) { pace(socket, reply, rate, answered, done); });
        return true;
    }
    if (rule.delayMs > 0) {
        inTurn(socket, [this, socket, reply, ms = rule.delayMs](const Done &done) {
            // The socket may be gone when the timer fires (client time-out).
            QTimer::singleShot(ms, this, [socket = QPointer<QTcpSocket>(socket), reply, done]() {
                if (socket)
                    send(socket, reply);
                done();
            });
        });
        return true;
    }
    inTurn(socket, [socket, reply](const Done &done) {
        send(socket, reply);
        done();
    });
    return true;
}

void ServiceServer::inTurn(QTcpSocket *socket, std::function<void(const Done &)> answer)
{
    AnswerQueue::of(socket)->add(std::move(answer));
}

std::shared_ptr<bool> ServiceServer::watchForDeparture(QTcpSocket *socket, const QString &path)
{
    auto answered = std::make_shared<bool>(false);
    // One-shot: a kept-alive socket carries later calls too.
    auto watch = std::make_shared<QMetaObject::Connection>();
    *watch = connect(socket, &QTcpSocket::disconnected, this, [this, path, answered, watch]() {
        disconnect(*watch);
        if (!*answered)
            m_abandoned.append(path);
    });
    return answered;
}

int ServiceServer::release(const QString &path)
{
    int sent = 0;
    for (qsizetype i = 0; i < m_held.size();) {
        const HeldReply held = m_held.at(i);
        if (!path.isEmpty() && held.path != path) {
            ++i;
            continue;
        }
        m_held.removeAt(i);
        if (!held.socket)
            continue;
        *held.answered = true;
        send(held.socket, held.reply);
        held.done();
        ++sent;
    }
    return sent;
}

void ServiceServer::stream(QTcpSocket *socket, qint64 bytes, const std::shared_ptr<bool> &answered, const Done &done)
{
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: "
                  + QByteArray::number(bytes) + "\r\n\r\n");
    // Only as fast as the client reads: a client that keeps nothing never has it all.
    auto left = std::make_shared<qint64>(bytes);
    const QByteArray chunk(64 * 1024, 'x');
    auto pump = std::make_shared<QMetaObject::Connection>();
    const auto fill = [socket, left, chunk, answered, pump, done]() {
        while (*left > 0 && socket->bytesToWrite() < 4 * chunk.size()) {
            const qint64 n = std::min<qint64>(*left, chunk.size());
            socket->write(chunk.constData(), n);
            *left -= n;
        }
        if (*left == 0 && !*answered) {
            *answered = true;
            QObject::disconnect(*pump);
            done();
        }
    };
    *pump = connect(socket, &QTcpSocket::bytesWritten, this, fill);
    fill();
}

void ServiceServer::trickle(QTcpSocket *socket, const ServiceReply &reply, int intervalMs,
                            const std::shared_ptr<bool> &answered, const Done &done)
{
    socket->write(head(reply));
    auto *timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [socket, timer, body = reply.body, sent, answered, done]() {
        if (*sent < body.size())
            socket->write(body.constData() + (*sent)++, 1);
        if (*sent == body.size()) {
            *answered = true;
            timer->stop();
            timer->deleteLater();
            done();
        }
    });
    timer->start(intervalMs);
}

void ServiceServer::pace(QTcpSocket *socket, const ServiceReply &reply, int bytesPerSecond,
                         const std::shared_ptr<bool> &answered, const Done &done)
{
    socket->write(head(reply));
    // A tenth of a second's worth per tick, counted from the start, so timer
    // lateness on a busy machine does not slow the line below its rate.
    constexpr int kTickMs = 100;
    auto *timer = new QTimer(socket);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket,
            [socket, timer, body = reply.body, sent, clock, bytesPerSecond, answered, done]() {
        const qint64 due = std::min<qint64>(body.size(), clock->elapsed() * bytesPerSecond / 1000 + 1);
        if (due > *sent) {
            socket->write(body.constData() + *sent, due - *sent);
            *sent = due;
        }
        if (*sent == body.size()) {
            *answered = true;
            timer->stop();
            timer->deleteLater();
            done();
        }
    });
    timer->start(kTickMs);
}

void ServiceServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    send(socket, ServiceReply::error(404, QStringLiteral("Not Found")));
}

QByteArray ServiceServer::head(const ServiceReply &reply)
{
    return "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status)
           + "\r\nContent-Type: " + reply.contentType
           + "\r\nContent-Length: " + QByteArray::number(reply.body.size())
           + "\r\nConnection: keep-alive\r\n\r\n";
}

void ServiceServer::send(QTcpSocket *socket, const ServiceReply &reply)
{
    socket->write(head(reply) + reply.body);
}

#include "service_server.moc"
