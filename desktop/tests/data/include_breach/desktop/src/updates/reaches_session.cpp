#include "session/vpn_process.h"
