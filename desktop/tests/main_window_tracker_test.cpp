#include "shell/main_window_tracker.h"

#include <QFile>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QUrl writeQml(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(text);
    return QUrl::fromLocalFile(f.fileName());
}

} // namespace

class MainWindowTrackerTest : public QObject
{
    Q_OBJECT

private slots:
    void brokenRootIsReportedOnlyForTheMainFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QUrl broken = writeQml(dir, "Main.qml", "import QtQuick\nWindow { nosuch: 1 }\n");
        const QUrl otherBroken = writeQml(dir, "Other.qml", "import QtQuick\nItem { x: }\n");

        MainWindowTracker tracker(broken);
        QSignalSpy failed(&tracker, &MainWindowTracker::rootCreationFailed);
        QQmlApplicationEngine engine;
        QObject::connect(&engine, &QQmlApplicationEngine::objectCreated, &tracker,
                         &MainWindowTracker::onObjectCreated);
        QVERIFY(!otherBroken.isEmpty());
        engine.load(otherBroken);
        QCOMPARE(failed.count(), 0);
        engine.load(broken);
        QCOMPARE(failed.count(), 1);
        QVERIFY(!tracker.window());
        tracker.showMainWindow(); // nothing known yet: a no-op, not a crash
    }

    void createdWindowIsShownOnRequest()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QUrl main = writeQml(dir, "Main.qml",
                                   "import QtQuick\nWindow { width: 100; height: 80; visible: false }\n");
        MainWindowTracker tracker(main);
        QSignalSpy created(&tracker, &MainWindowTracker::windowCreated);
        QSignalSpy failed(&tracker, &MainWindowTracker::rootCreationFailed);
        QQmlApplicationEngine engine;
        QObject::connect(&engine, &QQmlApplicationEngine::objectCreated, &tracker,
                         &MainWindowTracker::onObjectCreated);
        engine.load(main);
        QCOMPARE(created.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(tracker.window());
        QVERIFY(!tracker.window()->isVisible());

        tracker.showMainWindow();
        QVERIFY(tracker.window()->isVisible());

        // A non-window root (an Item) is not taken for the main window.
        MainWindowTracker other(main);
        QObject item;
        other.onObjectCreated(&item, main);
        QVERIFY(!other.window());
    }
};

QTEST_MAIN(MainWindowTrackerTest)
#include "main_window_tracker_test.moc"
