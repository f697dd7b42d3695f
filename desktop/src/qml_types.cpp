#include "qml_types.h"

#include "port_forwarder.h"

#include <QtQml/qqml.h>

void registerQmlTypes()
{
    // Offered for documents that want their own forward list; the program itself makes none.
    qmlRegisterType<PortForwarder>("Corvana.Native", 1, 0, "PortForwarder");
}
