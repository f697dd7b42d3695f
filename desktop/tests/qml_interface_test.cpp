#include "service/api_client.h"
#include "shell/logger.h"
#include "service/ping_service.h"
#include "support/test_main.h"
#include "shell/tray_icon.h"
#include "updates/update_service.h"

#include <QFile>
#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QTest>

namespace {

const char *kListPath = CORVANA_SOURCE_DIR "/desktop/tests/data/qml_interface.txt";

QString methodKind(QMetaMethod::MethodType type)
{
    switch (type) {
    case QMetaMethod::Signal:
        return QStringLiteral("signal");
    case QMetaMethod::Slot:
        return QStringLiteral("slot");
    case QMetaMethod::Method:
        return QStringLiteral("invokable");
    case QMetaMethod::Constructor:
        return QStringLiteral("constructor");
    }
    return QStringLiteral("?");
}

// Everything QML can see of one class, beyond what QObject itself brings.
QStringList describe(const QString &contextName, const QMetaObject &meta)
{
    QStringList lines;
    lines << QStringLiteral("[%1 %2]").arg(contextName, QString::fromLatin1(meta.className()));
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty p = meta.property(i);
        QString line = QStringLiteral("property %1 %2").arg(QString::fromLatin1(p.typeName()),
                                                            QString::fromLatin1(p.name()));
        if (p.isWritable())
            line += QStringLiteral(" writable");
        if (p.hasNotifySignal())
            line += QStringLiteral(" notify ") + QString::fromLatin1(p.notifySignal().name());
        lines << line;
    }
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod m = meta.method(i);
        if (m.access() == QMetaMethod::Private)
            continue;
        QStringList params;
        const QList<QByteArray> types = m.parameterTypes();
        const QList<QByteArray> names = m.parameterNames();
        for (int k = 0; k < types.size(); ++k)
            params << QString::fromLatin1(types.at(k) + ' ' + names.value(k));
        lines << QStringLiteral("%1 %2 %3(%4)")
                     .arg(methodKind(m.methodType()),
                          QString::fromLatin1(m.typeName()),
                          QString::fromLatin1(m.name()),
                          params.join(QStringLiteral(", ")));
    }
    return lines;
}

QStringList currentInterface()
{
    QStringList lines;
    lines << describe(QStringLiteral("api"), ApiClient::staticMetaObject);
    lines << describe(QStringLiteral("ping"), PingService::staticMetaObject);
    lines << describe(QStringLiteral("tray"), TrayIcon::staticMetaObject);
    lines << describe(QStringLiteral("logger"), Logger::staticMetaObject);
    lines << describe(QStringLiteral("updater"), UpdateService::staticMetaObject);
    return lines;
}

} // namespace

// The window binds to these names; a rename here breaks it without a compile error.
class QmlInterfaceTest : public QObject
{
    Q_OBJECT

private slots:
    void interfaceMatchesTheCommittedList()
    {
        const QStringList current = currentInterface();
        // Set on purpose, once, when the interface is meant to change.
        if (qEnvironmentVariableIsSet("CORVANA_WRITE_QML_INTERFACE")) {
            QFile out(QString::fromLatin1(kListPath));
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(current.join(QLatin1Char('\n')).toUtf8() + '\n');
        }
        QFile in(QString::fromLatin1(kListPath));
        QVERIFY2(in.open(QIODevice::ReadOnly), kListPath);
        QStringList committed = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'));
        if (!committed.isEmpty() && committed.last().isEmpty())
            committed.removeLast();

        for (const QString &line : committed)
            QVERIFY2(current.contains(line), qPrintable(QStringLiteral("gone or changed: ") + line));
        for (const QString &line : current)
            QVERIFY2(committed.contains(line), qPrintable(QStringLiteral("not in the list: ") + line));
        QCOMPARE(current, committed);
    }

    void listCoversTheWholeInterface()
    {
        // A sanity floor: the list really describes the five objects, not an empty file.
        const QStringList current = currentInterface();
        QCOMPARE(current.filter(QRegularExpression(QStringLiteral("^\\["))).size(), 5);
        QVERIFY(current.contains(QStringLiteral(
            "invokable void joinVlan(QString vlanId)")));
        QVERIFY(current.contains(QStringLiteral(
            "signal void joinSuccess(QString vlanId, QString name, QString serverAddress)")));
        QVERIFY(current.contains(QStringLiteral(
            "property QString vpnStatus notify vpnStatusChanged")));
    }
};

CORVANA_TEST_MAIN(QmlInterfaceTest)
#include "qml_interface_test.moc"
