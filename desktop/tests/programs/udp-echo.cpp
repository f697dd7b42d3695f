// udp-echo ADDR:PORT
// Stands in for a game server: every datagram goes back to its sender as it
// came, and a line "echo <sender-port> <payload>" is printed for the test to
// read. Prints "echoing" once bound.
#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString endpoint = argc == 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    const qsizetype colon = endpoint.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const quint16 port = quint16(endpoint.mid(colon + 1).toUInt(&portOk));
    const QHostAddress address(endpoint.left(colon));
    if (colon <= 0 || !portOk || address.isNull()) {
        std::fprintf(stderr, "usage: udp-echo ADDR:PORT\n");
        return 2;
    }
    QUdpSocket socket;
    if (!socket.bind(address, port)) {
        std::fprintf(stderr, "udp-echo: %s\n", qPrintable(socket.errorString()));
        return 1;
    }
    QObject::connect(&socket, &QUdpSocket::readyRead, [&socket] {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            socket.writeDatagram(datagram.data(), datagram.senderAddress(), quint16(datagram.senderPort()));
            std::printf("echo %d %s\n", datagram.senderPort(), datagram.data().trimmed().constData());
            std::fflush(stdout);
        }
    });
    std::printf("echoing\n");
    std::fflush(stdout);
    return app.exec();
}
