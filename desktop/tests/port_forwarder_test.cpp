#include "forwarding/port_forwarder.h"
#include "shell/qml_types.h"

#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {

// A port that is free on loopback for both TCP and UDP right now.
quint16 freePort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QTcpServer tcp;
        tcp.listen(QHostAddress::LocalHost, 0);
        QUdpSocket udp;
        if (udp.bind(QHostAddress::LocalHost, tcp.serverPort(), QAbstractSocket::DontShareAddress))
            return tcp.serverPort();
    }
    return 0;
}

} // namespace

class PortForwarderTest : public QObject
{
    Q_OBJECT

private slots:
    void refusesBadInputInOrder()
    {
        PortForwarder forwarder;
        QSignalSpy errors(&forwarder, &PortForwarder::forwardError);
        QSignalSpy changed(&forwarder, &PortForwarder::forwardsChanged);

        QVERIFY(!forwarder.addForward("a", 0, "192.168.1.5", 0, "UDP")); // subnet is checked first
        QVERIFY(!forwarder.addForward("a", 5000, "not an address", 5000, "UDP"));
        QVERIFY(!forwarder.addForward("a", 5000, "fd00::1", 5000, "UDP"));
        QVERIFY(!forwarder.addForward("a", 5000, "11.0.0.1", 5000, "UDP"));
        QVERIFY(!forwarder.addForward("a", 0, "10.1.2.3", 5000, "UDP"));
        QVERIFY(!forwarder.addForward("a", 5000, "10.1.2.3", 65536, "UDP"));
        QVERIFY(!forwarder.addForward("a", -1, "10.1.2.3", 5000, "UDP"));
        QCOMPARE(errors.size(), 7);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(errors[i][0].toString(), QStringLiteral("Remote IP must be in VPN subnet"));
        for (int i = 4; i < 7; ++i)
            QCOMPARE(errors[i][0].toString(), QStringLiteral("Invalid port number"));
        QCOMPARE(changed.size(), 0);
        QCOMPARE(forwarder.count(), 0);
    }

    void listsForwardsAndRefusesTheirPorts()
    {
        const quint16 port = freePort();
        QVERIFY(port != 0);
        PortForwarder forwarder;
        QSignalSpy errors(&forwarder, &PortForwarder::forwardError);
        QSignalSpy changed(&forwarder, &PortForwarder::forwardsChanged);

        QVERIFY(forwarder.addForward("Game", port, "10.0.0.7", 27015, "Both"));
        QCOMPARE(changed.size(), 1);
        QVERIFY(!forwarder.addForward("Other", port, "10.0.0.8", 1, "TCP"));
        QCOMPARE(errors.last()[0].toString(), QStringLiteral("Port %1 already in use").arg(port));

        const QJsonArray list = forwarder.forwards();
        QCOMPARE(list.size(), 1);
        const QJsonObject entry = list[0].toObject();
        QCOMPARE(entry["name"].toString(), QStringLiteral("Game"));
        QCOMPARE(entry["localPort"].toInt(), int(port));
        QCOMPARE(entry["remoteIp"].toString(), QStringLiteral("10.0.0.7"));
        QCOMPARE(entry["remotePort"].toInt(), 27015);
        QCOMPARE(entry["protocol"].toString(), QStringLiteral("TCP+UDP"));
        QCOMPARE(entry["running"].toBool(), true);
        QCOMPARE(entry["bytes"].toDouble(), 0.0);

        // Protocol words are exact: only "TCP" and "UDP" pick one side.
        QVERIFY(forwarder.addForward("t", freePort(), "10.0.0.7", 1, "TCP"));
        QVERIFY(forwarder.addForward("u", freePort(), "10.0.0.7", 1, "UDP"));
        QVERIFY(forwarder.addForward("l", freePort(), "10.0.0.7", 1, "udp"));
        QCOMPARE(forwarder.count(), 4);
        QCOMPARE(forwarder.forwards()[1].toObject()["protocol"].toString(), QStringLiteral("TCP"));
        QCOMPARE(forwarder.forwards()[2].toObject()["protocol"].toString(), QStringLiteral("UDP"));
        QCOMPARE(forwarder.forwards()[3].toObject()["protocol"].toString(), QStringLiteral("TCP+UDP"));

        // A start failure is relayed and nothing is added.
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
        const int before = changed.size();
        QVERIFY(!forwarder.addForward("busy", holder.localPort(), "10.0.0.7", 1, "UDP"));
        QVERIFY(errors.last()[0].toString().startsWith(QStringLiteral("UDP bind failed on port")));
        QCOMPARE(forwarder.count(), 4);
        QCOMPARE(changed.size(), before);

        changed.clear();
        forwarder.removeForward(4);
        forwarder.removeForward(-1);
        QCOMPARE(changed.size(), 0);
        forwarder.removeForward(0);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(forwarder.count(), 3);
        QCOMPARE(forwarder.forwards()[0].toObject()["name"].toString(), QStringLiteral("t"));
        // The removed forward's port is free again.
        QVERIFY(forwarder.addForward("Game", port, "10.0.0.7", 27015, "Both"));

        forwarder.stopAll();
        QCOMPARE(forwarder.count(), 0);
        forwarder.stopAll();
        QCOMPARE(changed.size(), 4); // an empty list still reports
    }

    void cs2PresetTriesBothForwards()
    {
        PortForwarder forwarder;
        QSignalSpy errors(&forwarder, &PortForwarder::forwardError);
        QVERIFY(!forwarder.addCs2Forward("8.8.8.8"));
        QCOMPARE(errors.size(), 2);
        QCOMPARE(forwarder.count(), 0);

        QTcpServer tcp27015;
        QUdpSocket udp27015, udp27020;
        if (!tcp27015.listen(QHostAddress::LocalHost, 27015)
            || !udp27015.bind(QHostAddress::LocalHost, 27015, QAbstractSocket::DontShareAddress)
            || !udp27020.bind(QHostAddress::LocalHost, 27020, QAbstractSocket::DontShareAddress))
            QSKIP("ports 27015/27020 are in use on this machine");
        tcp27015.close();
        udp27015.close();
        udp27020.close();

        QVERIFY(forwarder.addCs2Forward("10.20.30.40"));
        QCOMPARE(forwarder.count(), 2);
        const QJsonArray list = forwarder.forwards();
        QCOMPARE(list[0].toObject()["name"].toString(), QStringLiteral("CS2 Game"));
        QCOMPARE(list[0].toObject()["localPort"].toInt(), 27015);
        QCOMPARE(list[0].toObject()["protocol"].toString(), QStringLiteral("TCP+UDP"));
        QCOMPARE(list[1].toObject()["name"].toString(), QStringLiteral("CS2 Query"));
        QCOMPARE(list[1].toObject()["localPort"].toInt(), 27020);
        QCOMPARE(list[1].toObject()["protocol"].toString(), QStringLiteral("UDP"));

        // Both already there: both are refused, one message each.
        errors.clear();
        QVERIFY(!forwarder.addCs2Forward("10.20.30.40"));
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors[0][0].toString(), QStringLiteral("Port 27015 already in use"));
        QCOMPARE(errors[1][0].toString(), QStringLiteral("Port 27020 already in use"));
    }

    void creatableFromQml()
    {
        registerQmlTypes();
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import Corvana.Native 1.0\n"
                          "PortForwarder { property bool refused: !addForward(\"a\", 5000, \"192.168.1.5\", 5000, \"UDP\") }",
                          QUrl());
        const std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        QVERIFY(qobject_cast<PortForwarder *>(object.get()));
        QCOMPARE(object->property("refused").toBool(), true);
        QCOMPARE(object->property("count").toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(PortForwarderTest)
#include "port_forwarder_test.moc"
