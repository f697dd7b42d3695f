#pragma once
// A shared type that reaches up into the platform layer.
#include "core/addresses.h"
#include "platform/udp_socket.h"
