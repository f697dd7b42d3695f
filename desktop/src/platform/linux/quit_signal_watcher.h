#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (session end, Ctrl-C) become a normal quit
// request, so the quit-time clean-up and the teardown still run.
class QuitSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignalWatcher(QObject *parent = nullptr);
    ~QuitSignalWatcher() override;

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void quitRequested(int signalNumber);

private:
    void onReadable();

    QSocketNotifier *m_notifier = nullptr;
};
