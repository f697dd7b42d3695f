#include "shell/qml_types.h"

#include "forwarding/port_forwarder.h"

#include <QtQml/qqml.h>

void registerQmlTypes()
{
    // Offered for documents that want their own forward list; the program itself makes none.
    qmlRegisterType<PortForwarder>("Corvana.Native", 1, 0, "PortForwarder");
}
