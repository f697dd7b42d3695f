#pragma once

#include <QString>

enum class ForwardLogLevel { Debug = 0, Info = 1, Warn = 2, Error = 3 };

// One line in the program's log for the forward and ping code.
void forwardLog(ForwardLogLevel level, const QString &category, const QString &message);
