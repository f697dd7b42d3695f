#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <QQuickWindow>

// Learns the window the main QML file creates, so "show" requests can reach
// it, and reports when that file's root object could not be created.
class MainWindowTracker : public QObject
{
    Q_OBJECT

public:
    explicit MainWindowTracker(QUrl mainUrl, QObject *parent = nullptr);

    // The engine's object-created report.
    void onObjectCreated(QObject *object, const QUrl &url);
    // Shows, raises and activates the window; nothing before it is known.
    void showMainWindow();

    QQuickWindow *window() const { return m_window; }

signals:
    void rootCreationFailed();
    void windowCreated(QQuickWindow *window);

private:
    QUrl m_mainUrl;
    QPointer<QQuickWindow> m_window;
};
