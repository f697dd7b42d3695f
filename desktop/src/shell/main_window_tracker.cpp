#include "shell/main_window_tracker.h"

#include "shell/logger.h"

#include <QQuickWindow>

#include <memory>
#include <utility>

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
        // The first frame on screen is what a player waits for at start; the
        // log line lets start-up be measured on any machine.
        // Swaps are reported from the render thread, so several may be queued.
        auto once = std::make_shared<QMetaObject::Connection>();
        auto done = std::make_shared<bool>(false);
        *once = connect(window, &QQuickWindow::frameSwapped, this, [once, done] {
            QObject::disconnect(*once);
            if (std::exchange(*done, true))
                return;
            Logger::instance().log(Logger::Level::Info, QStringLiteral("window"),
                                   QStringLiteral("first frame shown"));
        });
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
