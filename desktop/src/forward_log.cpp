#include "forward_log.h"

#include <QDebug>

void forwardLog(ForwardLogLevel level, const QString &category, const QString &message)
{
    qDebug().noquote() << int(level) << category << message;
}
