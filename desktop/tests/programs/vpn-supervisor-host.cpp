// A desktop-side process that runs one tunnel client through the supervisor
// and then waits, so tests can kill it and watch the client die with it.
// Usage: vpn-supervisor-host <client folder>
#include "session/vpn_process.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    VpnProcess vpn;
    vpn.setProgramDirectory(QString::fromLocal8Bit(argv[1]));
    QObject::connect(&vpn, &VpnProcess::vpnConnecting, [] {
        std::puts("started");
        std::fflush(stdout);
    });
    vpn.start("127.0.0.1", "u", "p", "n");
    return app.exec();
}
