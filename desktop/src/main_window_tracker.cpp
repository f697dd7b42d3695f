#include "main_window_tracker.h"

#include <QQuickWindow>

MainWindowTracker::MainWindowTracker(QUrl mainUrl, QObject *parent)
    : QObject(parent), m_mainUrl(std::move(mainUrl))
{
}

void MainWindowTracker::onObjectCreated(QObject *object, const QUrl &url)
{
    if (!object) {
        if (url == m_mainUrl)
            emit rootCreationFailed();
        return;
    }
    if (auto *window = qobject_cast<QQuickWindow *>(object)) {
        m_window = window;
        emit windowCreated(window);
    }
}

void MainWindowTracker::showMainWindow()
{
    if (!m_window)
        return;
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}
