#include "shell/tray_icon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

class TrayIconTest : public QObject
{
    Q_OBJECT

private:
    static QSystemTrayIcon *iconOf(TrayIcon &tray) { return tray.findChild<QSystemTrayIcon *>(); }

private slots:
    void clicksAskForTheWindowAndOtherReasonsDoNot()
    {
        TrayIcon tray;
        QSystemTrayIcon *icon = iconOf(tray);
        QVERIFY(icon);
        QSignalSpy show(&tray, &TrayIcon::showRequested);
        QSignalSpy quit(&tray, &TrayIcon::quitRequested);

        emit icon->activated(QSystemTrayIcon::Context);
        emit icon->activated(QSystemTrayIcon::MiddleClick);
        emit icon->activated(QSystemTrayIcon::Unknown);
        QCOMPARE(show.count(), 0);

        emit icon->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(show.count(), 1);
        emit icon->activated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(show.count(), 2);
        QCOMPARE(quit.count(), 0);
    }

    void menuOffersShowThenQuit()
    {
        TrayIcon tray;
        QSystemTrayIcon *icon = iconOf(tray);
        QVERIFY(icon);
        QCOMPARE(icon->toolTip(), QStringLiteral("Corvana"));
        QMenu *menu = icon->contextMenu();
        QVERIFY(menu);
        const QList<QAction *> actions = menu->actions();
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions[0]->text(), QStringLiteral("Show Corvana"));
        QCOMPARE(actions[1]->text(), QStringLiteral("Quit"));

        QSignalSpy show(&tray, &TrayIcon::showRequested);
        QSignalSpy quit(&tray, &TrayIcon::quitRequested);
        actions[1]->trigger();
        QCOMPARE(quit.count(), 1);
        QCOMPARE(show.count(), 0);
        actions[0]->trigger();
        QCOMPARE(show.count(), 1);
        QCOMPARE(quit.count(), 1);
    }

    void showPutsTheIconIntoTheTray()
    {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("no system tray under this platform; visibility cannot be checked");
        TrayIcon tray;
        tray.show();
        QVERIFY(iconOf(tray)->isVisible());
        QVERIFY(!iconOf(tray)->icon().isNull());
    }
};

// Menus are widgets, so this test needs a widget application.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(CORVANA_SOURCE_DIR "/desktop/qml/icons/logo.svg")));
    TrayIconTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tray_icon_test.moc"
