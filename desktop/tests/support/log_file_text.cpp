#include "support/log_file_text.h"

#include "shell/logger.h"

#include <QFile>

QString logFileText()
{
    QFile file(Logger::instance().filePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
