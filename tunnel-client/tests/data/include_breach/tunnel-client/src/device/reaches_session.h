#pragma once
// The device layer reaching into the wire format.
#include "core/device_kind.h"
#include "session/wire.h"
