// Session code naming an OS implementation directly.
#include "platform/udp_socket.h"
#include "platform/linux/udp_burst.h"
