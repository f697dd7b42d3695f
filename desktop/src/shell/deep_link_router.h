#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

// Turns instance messages, the start-up link and Discord join requests into
// calls on the service client. The client is reached through its
// meta-object (`connected`, `disconnectVlan`, `joinVlan`), as QML does.
class DeepLinkRouter : public QObject
{
    Q_OBJECT

public:
    explicit DeepLinkRouter(QObject *api, QObject *parent = nullptr);

    // A message from another start: "show", a deep link, or anything else (ignored).
    void handleInstanceMessage(const QString &message);
    // The join link the program was started with, after its delay.
    void onStartupJoin(const QString &id);
    // Discord asked to join (its "join:" prefix already removed).
    void onDiscordJoin(const QString &id);

signals:
    void showWindowRequested();

private:
    void leaveIfConnected();
    void join(const QString &id);

    QPointer<QObject> m_api;
};
