// udp-relay LISTEN_ADDR:PORT TARGET_ADDR:PORT
// Relays datagrams from the clients that reach LISTEN to TARGET and back, one
// upstream socket per client. Lets a server bound to one namespace's loopback
// be reached over a veth link. Prints "relaying" once bound.
#include <QCoreApplication>
#include <QHash>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <cstdio>

namespace {

bool parse(const QString &text, QHostAddress &address, quint16 &port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    port = quint16(text.mid(colon + 1).toUInt(&ok));
    return colon > 0 && ok && address.setAddress(text.left(colon));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QHostAddress listenAddress, targetAddress;
    quint16 listenPort = 0, targetPort = 0;
    if (argc != 3 || !parse(QString::fromLocal8Bit(argv[1]), listenAddress, listenPort)
        || !parse(QString::fromLocal8Bit(argv[2]), targetAddress, targetPort)) {
        std::fprintf(stderr, "usage: udp-relay LISTEN_ADDR:PORT TARGET_ADDR:PORT\n");
        return 2;
    }
    QUdpSocket front;
    if (!front.bind(listenAddress, listenPort)) {
        std::fprintf(stderr, "udp-relay: cannot bind: %s\n", qPrintable(front.errorString()));
        return 1;
    }
    QHash<QString, QUdpSocket *> upstream; // by client address:port
    QObject::connect(&front, &QUdpSocket::readyRead, [&]() {
        while (front.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = front.receiveDatagram();
            const QHostAddress client = datagram.senderAddress();
            const quint16 clientPort = quint16(datagram.senderPort());
            const QString key = client.toString() + QLatin1Char(':') + QString::number(clientPort);
            QUdpSocket *&socket = upstream[key];
            if (!socket) {
                socket = new QUdpSocket(&app);
                socket->bind(QHostAddress::LocalHost, 0);
                QObject::connect(socket, &QUdpSocket::readyRead, socket, [&front, socket, client, clientPort]() {
                    while (socket->hasPendingDatagrams())
                        front.writeDatagram(socket->receiveDatagram().data(), client, clientPort);
                });
            }
            socket->writeDatagram(datagram.data(), targetAddress, targetPort);
        }
    });
    std::printf("relaying\n");
    std::fflush(stdout);
    return app.exec();
}
