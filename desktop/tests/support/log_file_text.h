#pragma once

#include <QString>

// Text of the process-wide log file; empty when it cannot be read.
QString logFileText();
