#include "shell/tray_icon.h"

#include <QFile>
#include <QGuiApplication>
#include <QIcon>

namespace {

constexpr int kBalloonMs = 5000;

QIcon trayImage()
{
    const QString path = QStringLiteral(":/icons/logo.ico");
    // A build without the .ico resource still gets a visible icon: the window's.
    if (QFile::exists(path))
        return QIcon(path);
    return QGuiApplication::windowIcon();
}

} // namespace

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent),
      m_icon(this),
      m_showAction(*m_menu.addAction(QStringLiteral("Show Corvana"))),
      m_quitAction(*m_menu.addAction(QStringLiteral("Quit")))
{
    m_icon.setIcon(trayImage());
    m_icon.setToolTip(QStringLiteral("Corvana"));
    m_icon.setContextMenu(&m_menu);
    connect(&m_showAction, &QAction::triggered, this, &TrayIcon::showRequested);
    connect(&m_quitAction, &QAction::triggered, this, &TrayIcon::quitRequested);
    connect(&m_icon, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::show()
{
    m_icon.show();
}

void TrayIcon::showTrayMessage(const QString &title, const QString &message)
{
    m_icon.showMessage(title, message, QSystemTrayIcon::Information, kBalloonMs);
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        emit showRequested();
}
