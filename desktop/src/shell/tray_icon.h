#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

// The program's place in the notification area: it keeps running there when
// its window is closed, and brings the window back or quits from its menu.
// Exposed to QML as `tray`.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    // Makes the icon visible; main calls it once right after construction.
    void show();

    Q_INVOKABLE void showTrayMessage(const QString &title, const QString &message);

signals:
    void showRequested();
    void quitRequested();

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    // Declared in this order so the menu goes before the icon that shows it.
    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QAction &m_showAction;
    QAction &m_quitAction;
};
