#include "platform/notification_sound.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace {

// The desktop's notification sound when a player and the sound theme are
// there, else the terminal bell through Qt.
class LinuxNotificationSound final : public NotificationSound
{
public:
    void play() override
    {
        const QString themeSound =
            QStringLiteral("/usr/share/sounds/freedesktop/stereo/message.oga");
        const QString canberra = QStandardPaths::findExecutable(QStringLiteral("canberra-gtk-play"));
        if (!canberra.isEmpty()) {
            QProcess::startDetached(canberra, {QStringLiteral("-i"), QStringLiteral("message")});
            return;
        }
        const QString paplay = QStandardPaths::findExecutable(QStringLiteral("paplay"));
        if (!paplay.isEmpty() && QFile::exists(themeSound)) {
            QProcess::startDetached(paplay, {themeSound});
            return;
        }
        if (qobject_cast<QApplication *>(QCoreApplication::instance()))
            QApplication::beep();
    }
};

} // namespace

std::unique_ptr<NotificationSound> NotificationSound::createDefault()
{
    return std::make_unique<LinuxNotificationSound>();
}
