#include "platform/platform_factory.h"

#include "platform/linux/proc_process_table.h"
#include "platform/linux/quit_signal_watcher.h"
#include "platform/linux/xdg_url_scheme_registry.h"

namespace platform {

std::unique_ptr<ProcessTable> createProcessTable()
{
    return std::make_unique<ProcProcessTable>();
}

std::unique_ptr<UrlSchemeRegistry> createUrlSchemeRegistry()
{
    return std::make_unique<XdgUrlSchemeRegistry>();
}

std::unique_ptr<QObject> watchQuitRequests(std::function<void()> onQuit)
{
    auto watcher = std::make_unique<QuitSignalWatcher>();
    QObject::connect(watcher.get(), &QuitSignalWatcher::quitRequested, watcher.get(),
                     [onQuit = std::move(onQuit)](int) { onQuit(); });
    return watcher;
}

} // namespace platform
