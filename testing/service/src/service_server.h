#pragma once

#include "service_state.h"

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

#include <functional>
#include <memory>

class QTcpSocket;
class LobbyHub;

// One incoming call, as the areas see it.
struct ServiceCall
{
    QByteArray method;
    QString path;      // without the query
    QUrlQuery query;
    QStringList captures; // decoded "{}" segments of the route
    QByteArray rawBody;
    QJsonObject body;  // empty when the body is not a JSON object
    bool bodyIsObject = false;
    QString bearer;    // token from "Authorization: Bearer ...", or empty
    QString lang;      // "x-lang" header
};

struct ServiceReply
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";

    static ServiceReply json(int status, const QJsonObject &object);
    static ServiceReply error(int status, const QString &detail);
};

// One-shot behaviour for the next call of a path, set by tests.
struct ControlRule
{
    int status = 0;           // 0: answer normally
    QString detail;           // with status: the error's "detail"
    QByteArray rawBody;       // replaces the body when set
    bool malformed = false;   // answer with a body that is not JSON
    int delayMs = 0;          // answer late
    bool hang = false;        // never answer
    bool hold = false;        // answer when a test releases the path
    qint64 streamBytes = 0;   // answer 200 with this many bytes of body, sent as the client takes them
    int trickleMs = 0;        // the head at once, then the body one byte per this many ms
    int bytesPerSecond = 0;   // the head at once, then the body at this steady pace (a slow line)
};

// The stand-in service: a small router over QAbstractHttpServer, the state
// in memory, and controls that let tests bend the next answer of a path.
class ServiceServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    using Handler = std::function<ServiceReply(ServiceCall &)>;

    explicit ServiceServer(QObject *parent = nullptr);
    ~ServiceServer() override;

    // Route pattern: literal segments and "{}" for one captured segment.
    void addRoute(const QByteArray &method, const QString &pattern, Handler handler);

    ServiceState &state() { return m_state; }
    LobbyHub &lobby() { return *m_lobby; }
    void addRule(const QString &path, const ControlRule &rule);
    void clearRules();

    // Every call seen, for tests to inspect.
    QJsonArray requestLog() const { return m_log; }
    void clearLog() { m_log = {}; }
    // Sends the held answers of a path (every path when empty); how many.
    int release(const QString &path);
    // Paths of the held, hung or streamed calls whose client left before the whole answer was sent.
    QJsonArray abandoned() const { return m_abandoned; }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Route
    {
        QByteArray method;
        QStringList segments;
        Handler handler;
    };

    // Called once an answer is all written: the connection's next may begin.
    using Done = std::function<void()>;

    struct HeldReply
    {
        QString path;
        QPointer<QTcpSocket> socket;
        ServiceReply reply;
        std::shared_ptr<bool> answered;
        Done done;
    };

    ServiceReply dispatch(ServiceCall &call);
    // Answers of one connection go out in the order its requests came: a
    // client may send the next before the last answer is through (Qt Quick's
    // image loader pipelines), and a slow answer must not interleave with it.
    static void inTurn(QTcpSocket *socket, std::function<void(const Done &)> answer);
    static void send(QTcpSocket *socket, const ServiceReply &reply);
    static QByteArray head(const ServiceReply &reply);
    void trickle(QTcpSocket *socket, const ServiceReply &reply, int intervalMs,
                 const std::shared_ptr<bool> &answered, const Done &done);
    void pace(QTcpSocket *socket, const ServiceReply &reply, int bytesPerSecond,
              const std::shared_ptr<bool> &answered, const Done &done);
    // Records the call as abandoned when its client leaves before `answered` is set.
    std::shared_ptr<bool> watchForDeparture(QTcpSocket *socket, const QString &path);
    void stream(QTcpSocket *socket, qint64 bytes, const std::shared_ptr<bool> &answered, const Done &done);

    ServiceState m_state;
    LobbyHub *m_lobby = nullptr; // child object
    QList<Route> m_routes;
    QHash<QString, QList<ControlRule>> m_rules;
    QJsonArray m_log;
    QList<HeldReply> m_held;
    QJsonArray m_abandoned;
};

// Areas register their routes; one file per area.
void registerAccountRoutes(ServiceServer &server);
void registerCatalogueRoutes(ServiceServer &server);
void registerVlanRoutes(ServiceServer &server);
void registerControlRoutes(ServiceServer &server);
void registerLobbyRoutes(ServiceServer &server);
void registerUpdateRoutes(ServiceServer &server);
void registerStaticRoutes(ServiceServer &server);
void registerCatalogueControls(ServiceServer &server);
