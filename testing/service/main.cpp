// corvana-test-service [--host ADDRESS] [--port N] [--update-dir FOLDER] [--tunnel-server HOST:PORT]
// Prints "listening on http://ADDRESS:PORT" once it accepts calls.
#include "service_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvana-test-service"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption hostOption(QStringLiteral("host"), QStringLiteral("Address to listen on."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port; 0 picks a free one."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption tunnelOption(QStringLiteral("tunnel-server"),
                                          QStringLiteral("Tunnel server named in join replies."),
                                          QStringLiteral("host:port"), QStringLiteral("127.0.0.1:7100"));
    parser.addOption(hostOption);
    parser.addOption(tunnelOption);
    parser.addOption(portOption);
    const QCommandLineOption updateOption(QStringLiteral("update-dir"),
                                          QStringLiteral("Folder whose files \"/api/update\" offers as the release."),
                                          QStringLiteral("folder"));
    parser.addOption(updateOption);
    parser.process(app);

    const QHostAddress host(parser.value(hostOption));
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (host.isNull() || !portOk || port > 65535) {
        std::fprintf(stderr, "corvana-test-service: bad --host or --port\n");
        return 2;
    }

    ServiceServer server;
    server.setProperty("updateFolder", parser.value(updateOption));
    server.state().tunnelServer = parser.value(tunnelOption);
    const quint16 bound = server.listen(host, quint16(port));
    if (bound == 0) {
        std::fprintf(stderr, "corvana-test-service: cannot listen on %s:%u\n",
                     qPrintable(host.toString()), port);
        return 1;
    }
    std::printf("listening on http://%s:%u\n", qPrintable(host.toString()), unsigned(bound));
    std::fflush(stdout);
    return app.exec();
}
