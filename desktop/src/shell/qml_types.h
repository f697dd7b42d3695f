#pragma once

// QML types the program registers beside its context objects.
//   registerQmlTypes() -> "import Corvana.Native 1.0" offers PortForwarder
void registerQmlTypes();
