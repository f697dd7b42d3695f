#pragma once
// The platform objects the program needs at start-up, built for the platform
// this program is compiled for; the only way the shell reaches OS code.
#include "platform/process_table.h"
#include "platform/url_scheme_registry.h"

#include <QObject>

#include <functional>
#include <memory>

namespace platform {

std::unique_ptr<ProcessTable> createProcessTable();
std::unique_ptr<UrlSchemeRegistry> createUrlSchemeRegistry();
// Calls onQuit when the session or the user asks the program to end from
// outside (signals on Linux); stops when the returned object is destroyed.
std::unique_ptr<QObject> watchQuitRequests(std::function<void()> onQuit);

} // namespace platform
